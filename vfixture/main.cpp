// vfixture: a virtual Art-Net fixture. One process plays any number of
// fixtures, each with its own UDP socket on its own address, port 6454. It
// answers ArtPoll with an ArtPollReply, takes firmware uploads block by
// block (checking every packet), follows a fault script, writes a received
// image to a file and prints one line per event on standard output.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config.h"
#include "node.h"
#include "artnet_layout.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

void on_stop_signal(int)
{
    stop_requested = 1;
}

using Clock = std::chrono::steady_clock;

enum class SocketRole { Main, Alt, Broadcast, NewIp };

struct Endpoint {
    int fd;
    uint32_t address;   // host order
    SocketRole role;
    size_t fixture;     // index into the fixtures, unused for Broadcast
};

struct PendingReply {
    Clock::time_point due;
    int fd;
    uint32_t destination;
    std::vector<uint8_t> packet;
    std::string fixture;
};

struct Node {
    std::vector<FixtureState> fixtures;
    std::vector<int> main_fd, alt_fd, new_fd;  // per fixture; -1 = none
    std::map<size_t, size_t> successors;       // a fixture with new-ip= to the one that takes its address
    std::vector<Endpoint> endpoints;           // in poll order
    std::map<uint32_t, std::vector<size_t>> broadcast_members;
    std::vector<PendingReply> pending;
    bool quiet = false;
    bool timestamps = false;                   // each line begins with the time it happened
    std::string out;                           // event lines not yet written
};

void usage(FILE *stream)
{
    std::fprintf(stream,
                 "usage: vfixture [--fixture SPEC]... [--many N,ADDR[,SPEC]]... [--config FILE]...\n"
                 "                [--quiet] [--timestamps] [--help]\n"
                 "\n"
                 "Plays Art-Net fixtures for lumiload: each fixture binds its own address on\n"
                 "UDP port 6454, answers ArtPoll and accepts firmware uploads.\n"
                 "\n"
                 "  --fixture SPEC     one fixture (or count=N of them), SPEC as below; repeatable\n"
                 "  --many N,ADDR[,SPEC]  N fixtures at ADDR, ADDR+1, ... (bind=ADDR,count=N,SPEC)\n"
                 "  --config FILE      fixtures from FILE, one SPEC per line, '#' comments\n"
                 "  --quiet            do not print poll events\n"
                 "  --timestamps       begin each line with the time, in seconds on the monotonic clock\n"
                 "  --help             this text\n"
                 "\n"
                 "%s"
                 "\n"
                 "Events on standard output, one line each, prefixed by the fixture's bind\n"
                 "address where they belong to one fixture:\n"
                 "  listening ADDR ip=IP version=X.Y.Z      one per fixture, then\n"
                 "  ready N fixtures\n"
                 "  ADDR: poll from S -> replied LEN bytes to D[ from ALT][ after MS ms]\n"
                 "  ADDR: block I type=T id=B len=W accepted|duplicate|rejected -> reply type=R[ notes]\n"
                 "  ADDR: block I type=T id=B len=W dropped (fault, packet K)\n"
                 "  ADDR: error ...                          a packet that breaks the rules\n"
                 "  ADDR: image written PATH (N bytes)\n"
                 "  ADDR: restart: silent for MS ms, then version=X.Y.Z[ (fault: the old one)]\n"
                 "  ADDR: restart: never answers again (fault)\n"
                 "  ADDR: upload complete version=X.Y.Z     later polls report this version\n"
                 "  ADDR: poll from S unanswered: restarting (likewise firmware packets)\n"
                 "  stopped                                  after SIGTERM or SIGINT\n"
                 "Exit status 0 after a signal, 1 when a socket cannot be set up, 2 for a bad\n"
                 "command line or config.\n",
                 FIXTURE_KEYS_HELP);
}

// Milliseconds on the monotonic clock, the fixtures' clock.
uint64_t now_ms()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

void emit(Node *node, const std::string &line)
{
    if (node->timestamps) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%lld.%06lld ", static_cast<long long>(us / 1000000),
                      static_cast<long long>(us % 1000000));
        node->out += stamp;
    }
    node->out += line;
    node->out += '\n';
}

void flush_events(Node *node)
{
    if (node->out.empty())
        return;
    std::fwrite(node->out.data(), 1, node->out.size(), stdout);
    std::fflush(stdout);
    node->out.clear();
}

sockaddr_in socket_address(uint32_t address)
{
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(ARTNET_PORT);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

int open_bound_socket(uint32_t address)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        std::fprintf(stderr, "vfixture: socket: %s\n", std::strerror(errno));
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in sa = socket_address(address);
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        std::fprintf(stderr, "vfixture: cannot bind %s:%d: %s\n", format_address(address).c_str(),
                     ARTNET_PORT, std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

bool open_sockets(Node *node)
{
    for (size_t i = 0; i < node->fixtures.size(); ++i) {
        const FixtureConfig &config = node->fixtures[i].config;
        if (config.successor) {
            // It shares the socket of the fixture it follows at that address.
            size_t before = 0;
            while (before < i && (node->fixtures[before].config.bind != config.bind ||
                                  !node->fixtures[before].config.new_ip || node->successors.count(before)))
                ++before;
            if (before == i) {
                std::fprintf(stderr, "vfixture: successor=1 at %s needs an earlier fixture there with new-ip=\n",
                             format_address(config.bind).c_str());
                return false;
            }
            node->successors[before] = i;
            node->main_fd.push_back(node->main_fd[before]);
            node->alt_fd.push_back(-1);
            node->new_fd.push_back(-1);
            continue;
        }
        int fd = open_bound_socket(config.bind);
        if (fd < 0)
            return false;
        node->main_fd.push_back(fd);
        node->endpoints.push_back({fd, config.bind, SocketRole::Main, i});
        int alt = -1;
        if (config.alt) {
            alt = open_bound_socket(config.alt);
            if (alt < 0)
                return false;
            node->endpoints.push_back({alt, config.alt, SocketRole::Alt, i});
        }
        node->alt_fd.push_back(alt);
        // The address a DHCP node gets after its restart, held from the start.
        int moved = -1;
        if (config.new_ip) {
            moved = open_bound_socket(config.new_ip);
            if (moved < 0)
                return false;
            node->endpoints.push_back({moved, config.new_ip, SocketRole::NewIp, i});
        }
        node->new_fd.push_back(moved);
        if (config.broadcast)
            node->broadcast_members[config.broadcast].push_back(i);
    }
    // One listener per broadcast address: a socket bound to a unicast
    // address does not receive datagrams sent to the broadcast address.
    for (const auto &entry : node->broadcast_members) {
        int fd = open_bound_socket(entry.first);
        if (fd < 0)
            return false;
        node->endpoints.push_back({fd, entry.first, SocketRole::Broadcast, 0});
    }
    return true;
}

void send_packet(Node *node, int fd, uint32_t destination, const std::vector<uint8_t> &packet,
                 const std::string &fixture)
{
    sockaddr_in sa = socket_address(destination);
    for (int attempt = 0; attempt < 100; ++attempt) {
        ssize_t sent = sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        if (sent == static_cast<ssize_t>(packet.size()))
            return;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
            // Non-blocking socket with a full send buffer: wait for room.
            pollfd pfd = {fd, POLLOUT, 0};
            poll(&pfd, 1, 10);
            continue;
        }
        break;
    }
    emit(node, fixture + ": error sending to " + format_address(destination) + ": " + std::strerror(errno));
}

void write_image(Node *node, const FixtureState &state, const std::vector<uint8_t> &image,
                 const std::string &prefix)
{
    const std::string &path = state.config.image_path;
    if (path.empty()) {
        emit(node, prefix + ": image received (" + std::to_string(image.size()) + " bytes), not written");
        return;
    }
    FILE *file = std::fopen(path.c_str(), "wb");
    bool ok = file && std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (file && std::fclose(file) != 0)
        ok = false;
    if (ok)
        emit(node, prefix + ": image written " + path + " (" + std::to_string(image.size()) + " bytes)");
    else
        emit(node, prefix + ": error writing image " + path + ": " + std::strerror(errno));
}

void apply_outcome(Node *node, size_t index, const Outcome &outcome, bool is_poll)
{
    FixtureState &state = node->fixtures[index];
    const std::string prefix = format_address(state.config.bind);
    if (outcome.reply) {
        // The reply to the last block still leaves from the old address.
        const bool moved = state.moved && !outcome.completed;
        int fd = outcome.from_alt ? node->alt_fd[index] : moved ? node->new_fd[index] : node->main_fd[index];
        if (outcome.delay_ms) {
            node->pending.push_back({Clock::now() + std::chrono::milliseconds(outcome.delay_ms), fd,
                                     outcome.destination, outcome.packet, prefix});
        } else {
            send_packet(node, fd, outcome.destination, outcome.packet, prefix);
        }
        if (outcome.again_ms)
            node->pending.push_back({Clock::now() + std::chrono::milliseconds(outcome.delay_ms + outcome.again_ms),
                                     fd, outcome.destination, outcome.packet, prefix});
        for (const std::vector<uint8_t> &packet : outcome.more_packets)
            send_packet(node, fd, outcome.destination, packet, prefix);
    }
    for (const std::string &line : outcome.events) {
        bool error = line.compare(0, 5, "error") == 0;
        if (!(is_poll && node->quiet && !error))
            emit(node, prefix + ": " + line);
    }
    if (outcome.completed) {
        write_image(node, state, outcome.image, prefix);
        emit(node, prefix + ": upload complete version=" + format_version(state.version_hi, state.version_lo));
    }
}

void dispatch(Node *node, const Endpoint &endpoint, const uint8_t *data, size_t length, uint32_t sender)
{
    PacketKind kind = classify_packet(data, length);
    if (endpoint.role == SocketRole::Broadcast) {
        // A broadcast poll reaches every fixture that listens on this address;
        // all replies go out before the lines are printed.
        if (kind != PacketKind::Poll)
            return;   // our own broadcast replies come back here, among others
        for (size_t index : node->broadcast_members[endpoint.address])
            apply_outcome(node, index, handle_poll(&node->fixtures[index], data, length, sender, now_ms()), true);
        return;
    }
    size_t index = endpoint.fixture;
    const bool moved = node->fixtures[index].moved;
    // A node that moved answers only at its new address, and nothing there
    // before; its old address is its successor's from then on.
    if (moved && endpoint.role == SocketRole::Main && node->successors.count(index))
        index = node->successors[index];
    else if ((endpoint.role == SocketRole::NewIp) != moved)
        return;
    const std::string prefix = format_address(node->fixtures[index].config.bind);
    switch (kind) {
    case PacketKind::Poll:
        apply_outcome(node, index, handle_poll(&node->fixtures[index], data, length, sender, now_ms()), true);
        break;
    case PacketKind::FirmwareMaster:
        apply_outcome(node, index, handle_firmware_master(&node->fixtures[index], data, length, sender, now_ms()),
                      false);
        break;
    case PacketKind::Address:
        apply_outcome(node, index, handle_address(&node->fixtures[index], data, length, sender, now_ms()), false);
        break;
    case PacketKind::OtherArtNet:
        if (!node->quiet) {
            char opcode[8];
            std::snprintf(opcode, sizeof opcode, "%04x", data[OPCODE_OFFSET] | data[OPCODE_OFFSET + 1] << 8);
            emit(node, prefix + ": ignored Art-Net OpCode 0x" + opcode + " from " + format_address(sender));
        }
        break;
    case PacketKind::NotArtNet:
        emit(node, prefix + ": error " + std::to_string(length) + " bytes from " + format_address(sender) +
                       " are not Art-Net");
        break;
    }
}

void receive_all(Node *node, const Endpoint &endpoint)
{
    uint8_t buffer[2048];
    // Bounded so one busy socket cannot starve the others or the timers.
    for (int count = 0; count < 1000; ++count) {
        sockaddr_in from;
        socklen_t from_length = sizeof from;
        ssize_t got = recvfrom(endpoint.fd, buffer, sizeof buffer, MSG_TRUNC,
                               reinterpret_cast<sockaddr *>(&from), &from_length);
        if (got < 0)
            return;
        uint32_t sender = ntohl(from.sin_addr.s_addr);
        if (static_cast<size_t>(got) > sizeof buffer) {
            emit(node, format_address(endpoint.address) + ": error " + std::to_string(got) + " bytes from " +
                           format_address(sender) + ": datagram too long");
            continue;
        }
        dispatch(node, endpoint, buffer, static_cast<size_t>(got), sender);
    }
}

void send_due_replies(Node *node)
{
    Clock::time_point now = Clock::now();
    for (size_t i = 0; i < node->pending.size();) {
        if (node->pending[i].due <= now) {
            PendingReply reply = node->pending[i];
            node->pending.erase(node->pending.begin() + static_cast<long>(i));
            send_packet(node, reply.fd, reply.destination, reply.packet, reply.fixture);
        } else {
            ++i;
        }
    }
}

int poll_timeout_ms(const Node &node)
{
    if (node.pending.empty())
        return -1;
    Clock::time_point first = node.pending.front().due;
    for (const PendingReply &reply : node.pending)
        first = std::min(first, reply.due);
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(first - Clock::now()).count() + 1;
    return wait < 0 ? 0 : static_cast<int>(wait);
}

bool read_file(const char *path, std::string *text)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text->append(chunk, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

}  // namespace

int main(int argc, char *argv[])
{
    Node node;
    std::vector<FixtureConfig> configs;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--quiet") {
            node.quiet = true;
            continue;
        }
        if (arg == "--timestamps") {
            node.timestamps = true;
            continue;
        }
        if (i + 1 >= argc) {
            usage(stderr);
            return 2;
        }
        std::string value = argv[++i];
        std::string error;
        bool ok = true;
        if (arg == "--fixture") {
            ok = parse_fixture_spec(value, &configs, &error);
        } else if (arg == "--many") {
            size_t comma = value.find(',');
            std::string count = value.substr(0, comma);
            std::string rest = comma == std::string::npos ? "" : value.substr(comma + 1);
            size_t second = rest.find(',');
            std::string address = rest.substr(0, second);
            std::string keys = second == std::string::npos ? "" : rest.substr(second);
            ok = parse_fixture_spec("bind=" + address + ",count=" + count + keys, &configs, &error);
        } else if (arg == "--config") {
            std::string text;
            if (!read_file(value.c_str(), &text)) {
                std::fprintf(stderr, "vfixture: cannot read %s: %s\n", value.c_str(), std::strerror(errno));
                return 2;
            }
            ok = parse_config_text(text, &configs, &error);
            if (!ok)
                error = value + ": " + error;
        } else {
            usage(stderr);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "vfixture: %s\n", error.c_str());
            return 2;
        }
    }
    if (configs.empty()) {
        std::fprintf(stderr, "vfixture: no fixture given (--fixture bind=ADDRESS)\n");
        usage(stderr);
        return 2;
    }

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_stop_signal;   // no SA_RESTART: poll() returns EINTR
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // Every fixture holds a socket: allow as many descriptors as permitted.
    struct rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    for (const FixtureConfig &config : configs)
        node.fixtures.push_back(make_fixture_state(config));
    int status = 0;
    if (!open_sockets(&node)) {
        status = 1;
    } else {
        for (const FixtureState &state : node.fixtures)
            emit(&node, "listening " + format_address(state.config.bind) + " ip=" +
                            format_address(state.config.ip_field) + " version=" +
                            format_version(state.version_hi, state.version_lo));
        emit(&node, "ready " + std::to_string(node.fixtures.size()) + " fixtures");
        flush_events(&node);

        std::vector<pollfd> fds;
        for (const Endpoint &endpoint : node.endpoints)
            fds.push_back({endpoint.fd, POLLIN, 0});
        while (!stop_requested) {
            int ready = poll(fds.data(), fds.size(), poll_timeout_ms(node));
            if (ready < 0 && errno != EINTR) {
                std::fprintf(stderr, "vfixture: poll: %s\n", std::strerror(errno));
                status = 1;
                break;
            }
            send_due_replies(&node);
            for (size_t i = 0; ready > 0 && i < fds.size(); ++i) {
                if (fds[i].revents & POLLIN)
                    receive_all(&node, node.endpoints[i]);
            }
            flush_events(&node);
        }
        emit(&node, "stopped");
        flush_events(&node);
    }
    for (const Endpoint &endpoint : node.endpoints)
        close(endpoint.fd);
    return status;
}
