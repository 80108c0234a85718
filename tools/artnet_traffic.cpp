// artnet_traffic: another controller's Art-Net traffic, as a lighting
// console streams it, for tests, demos and benchmarks. Sends ArtDmx frames
// of a given size at an even rate to one address (usually a broadcast
// address) on port 6454 for a given time, then stops by itself; or, with
// --poll, an ArtPoll every MS milliseconds, as a console looking for nodes.
//
//   artnet_traffic --to ADDRESS [--from ADDRESS] [--rate N] [--size BYTES]
//                  [--universes N] [--seconds S] [--poll MS]
//
// --size is the whole datagram: the 18-byte ArtDmx header and 2 to 512
// channels, an even number (20 is the shortest ArtDmx, 530 a universe of
// 512 channels). --universes N sends the frames to universes 0 to N-1 in
// turn (a console sending ten universes at 44 Hz is --rate 440
// --universes 10). --from binds the socket to that address on port 6454,
// as consoles do; otherwise any address and port. --poll MS (100 to 60000)
// replaces the frames and their rate. Bounded: at most 10000 frames per
// second, for at most 600 s. SIGTERM or SIGINT stops it early;
// either way it prints "sent N frames of B bytes in S s" and exits 0 (1
// when the socket cannot be set up, 2 for a bad command line).
//
// It sends wherever it is told: run it only inside network namespaces of
// your own or towards addresses you may flood.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "artnet_layout.h"

namespace {

constexpr uint16_t OP_DMX = 0x5000;
constexpr size_t DMX_HEADER_SIZE = 18;
constexpr size_t DMX_SEQUENCE_OFFSET = 12;
constexpr size_t DMX_SUB_UNI_OFFSET = 14;
constexpr size_t DMX_NET_OFFSET = 15;
constexpr size_t DMX_LENGTH_OFFSET = 16;  // 2 bytes, high byte first
constexpr unsigned long MAX_RATE = 10000;
constexpr unsigned long MAX_SECONDS = 600;

volatile sig_atomic_t stop_requested = 0;

void on_stop_signal(int) { stop_requested = 1; }

void usage()
{
    std::fprintf(stderr, "usage: artnet_traffic --to ADDRESS [--from ADDRESS] [--rate N] [--size BYTES]\n"
                         "                      [--universes N] [--seconds S] [--poll MS]\n"
                         "  defaults: --rate 440 --size 530 --universes 1 --seconds 10;\n"
                         "  BYTES even, 20 to 530; N at most 10000; S at most 600;\n"
                         "  --poll: an ArtPoll every MS ms (100 to 60000) instead of ArtDmx\n");
}

bool parse_number(const char *text, unsigned long min, unsigned long max, unsigned long *value)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (errno || end == text || *end || text[0] == '-' || parsed < min || parsed > max)
        return false;
    *value = parsed;
    return true;
}

// A zeroed packet of `size` bytes with the Art-Net header: ID, OpCode (low
// byte first) and protocol version.
std::vector<uint8_t> art_packet(size_t size, uint16_t opcode)
{
    std::vector<uint8_t> packet(size, 0);
    std::memcpy(packet.data(), ARTNET_ID, sizeof ARTNET_ID);
    packet[OPCODE_OFFSET] = opcode & 0xFF;
    packet[OPCODE_OFFSET + 1] = opcode >> 8;
    packet[OPCODE_OFFSET + 2] = PROTOCOL_VERSION_HI;
    packet[OPCODE_OFFSET + 3] = PROTOCOL_VERSION_LO;
    return packet;
}

std::vector<uint8_t> art_dmx(size_t size)
{
    std::vector<uint8_t> frame = art_packet(size, OP_DMX);
    const size_t channels = size - DMX_HEADER_SIZE;
    frame[DMX_LENGTH_OFFSET] = static_cast<uint8_t>(channels >> 8);
    frame[DMX_LENGTH_OFFSET + 1] = static_cast<uint8_t>(channels & 0xFF);
    for (size_t i = 0; i < channels; ++i)
        frame[DMX_HEADER_SIZE + i] = static_cast<uint8_t>(i * 7);  // a look, not silence
    return frame;
}

// Another controller's ArtPoll: every node answers it.
std::vector<uint8_t> art_poll()
{
    return art_packet(ART_POLL_SIZE, OP_POLL);
}

// `start` plus `nanoseconds`, normalised.
timespec later(timespec start, uint64_t nanoseconds)
{
    const uint64_t total = static_cast<uint64_t>(start.tv_nsec) + nanoseconds;
    start.tv_sec += static_cast<time_t>(total / 1000000000);
    start.tv_nsec = static_cast<long>(total % 1000000000);
    return start;
}

}  // namespace

int main(int argc, char *argv[])
{
    in_addr to {}, from {};
    bool to_given = false, from_given = false;
    unsigned long rate = 440, size = 530, universes = 1, seconds = 10, poll_ms = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[++i] : "";
        bool ok = true;
        if (arg == "--to")
            ok = to_given = inet_pton(AF_INET, value, &to) == 1;
        else if (arg == "--from")
            ok = from_given = inet_pton(AF_INET, value, &from) == 1;
        else if (arg == "--rate")
            ok = parse_number(value, 1, MAX_RATE, &rate);
        else if (arg == "--size")
            ok = parse_number(value, DMX_HEADER_SIZE + 2, DMX_HEADER_SIZE + 512, &size) && size % 2 == 0;
        else if (arg == "--universes")
            ok = parse_number(value, 1, 32768, &universes);
        else if (arg == "--seconds")
            ok = parse_number(value, 1, MAX_SECONDS, &seconds);
        else if (arg == "--poll")
            ok = parse_number(value, 100, 60000, &poll_ms);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "artnet_traffic: bad argument %s %s\n", arg.c_str(), value);
            usage();
            return 2;
        }
    }
    if (!to_given) {
        usage();
        return 2;
    }

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_stop_signal;  // no SA_RESTART: the sleep ends early
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    const int on = 1;
    sockaddr_in local {}, peer {};
    local.sin_family = peer.sin_family = AF_INET;
    local.sin_addr = from;
    local.sin_port = from_given ? htons(ARTNET_PORT) : 0;
    peer.sin_addr = to;
    peer.sin_port = htons(ARTNET_PORT);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "artnet_traffic: socket: %s\n", std::strerror(errno));
        if (fd >= 0)
            close(fd);
        return 1;
    }

    std::vector<uint8_t> frame = poll_ms ? art_poll() : art_dmx(size);
    const uint64_t interval_ns = poll_ms ? poll_ms * 1000000ull : 1000000000ull / rate;
    const uint64_t frames = poll_ms ? seconds * 1000 / poll_ms + 1 : static_cast<uint64_t>(rate) * seconds;
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    uint64_t sent = 0, failed = 0;
    for (uint64_t k = 0; k < frames && !stop_requested; ++k) {
        // On an even schedule from the start: a late frame does not delay the rest.
        const timespec due = later(start, k * interval_ns);
        if (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0)
            continue;  // a signal: the loop condition decides
        const unsigned long universe = k % universes;
        if (!poll_ms) {
            frame[DMX_SEQUENCE_OFFSET] = static_cast<uint8_t>(k / universes % 255 + 1);
            frame[DMX_SUB_UNI_OFFSET] = static_cast<uint8_t>(universe & 0xFF);
            frame[DMX_NET_OFFSET] = static_cast<uint8_t>(universe >> 8 & 0x7F);
        }
        if (sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) ==
            static_cast<ssize_t>(frame.size()))
            ++sent;
        else
            ++failed;
    }
    timespec end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double elapsed = static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    std::printf("sent %llu frames of %zu bytes in %.3f s", static_cast<unsigned long long>(sent), frame.size(), elapsed);
    if (failed)
        std::printf(" (%llu failed)", static_cast<unsigned long long>(failed));
    std::printf("\n");
    close(fd);
    return 0;
}
