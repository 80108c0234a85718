#include "fake_platform.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "firewall.h"
#include "netif.h"
#include "report.h"
#include "socket.h"
#include "stop_input.h"

FakeNetwork fake;

void fake_reset(const std::vector<std::string> &specs, const std::vector<std::string> &interfaces)
{
    fake = FakeNetwork();
    set_stop_requested(false);
    fake.interfaces = interfaces;
    std::vector<FixtureConfig> configs;
    for (const std::string &spec : specs) {
        std::string error;
        if (!parse_fixture_spec(spec, &configs, &error))
            fake.log.push_back("bad spec " + error);
    }
    for (const FixtureConfig &config : configs)
        fake.fixtures.push_back(make_fixture_state(config));
}

std::vector<uint64_t> fake_times(const std::string &needle)
{
    std::vector<uint64_t> times;
    for (const std::string &line : fake.log) {
        if (line.find(needle) != std::string::npos)
            times.push_back(std::stoull(line));
    }
    return times;
}

bool net_startup() { return true; }

FirewallCheck check_firewall() { return FirewallCheck(); }
void listen_for_stop_line() { fake.listening = true; }
void net_cleanup() {}
uint32_t parse_ipv4_address(const char *text) { return inet_addr(text); }
bool enable_broadcast(ArtSocket *) { return true; }
void receive_broadcasts_too(ArtSocket *, uint32_t, uint32_t) {}
bool is_receive_timeout(int error) { return error == EAGAIN; }
int datagram_too_long_error() { return EMSGSIZE; }
// The stop line comes in on the run's clock, as a front end's would.
uint64_t clock_us()
{
    if (fake.listening && fake.stop_at_us && fake.now_us >= fake.stop_at_us)
        set_stop_requested(true);
    return fake.now_us;
}

// One socket at a time, as on port 6454: a socket left open makes the next
// one fail to bind.
ArtSocket open_artnet_socket(uint32_t)
{
    ArtSocket socket;
    if (fake.socket_open) {
        errno = EADDRINUSE;
        report_socket_bind_failed();
        return socket;
    }
    fake.socket_open = true;
    socket.handle = 3;
    return socket;
}

bool artnet_socket_is_open(const ArtSocket &socket) { return socket.handle != INVALID_HANDLE; }

void close_artnet_socket(ArtSocket *socket)
{
    if (socket->handle != INVALID_HANDLE)
        fake.socket_open = false;
    socket->handle = INVALID_HANDLE;
}

bool send_datagram(ArtSocket *, uint32_t destination, const uint8_t *data, size_t length, int *error)
{
    const int number = fake.sends++;
    if (number >= fake.failing_from && number < fake.failing_to) {
        *error = ENOBUFS;
        return false;
    }
    const uint32_t to = ntohl(destination);
    const uint32_t controller = 0x02000001;  // every reply reaches lumiload, whatever address it names
    for (FixtureState &fixture : fake.fixtures) {
        if (to != fixture.config.bind && to != fixture.config.broadcast)
            continue;
        const uint64_t ms = fake.now_us / 1000;
        const Outcome outcome = classify_packet(data, length) == PacketKind::Poll
                                    ? handle_poll(&fixture, data, length, controller, ms)
                                    : handle_firmware_master(&fixture, data, length, controller, ms);
        for (const std::string &event : outcome.events)
            fake.log.push_back(std::to_string(fake.now_us / 1000) + " " + format_address(fixture.config.bind) + ": " +
                               event);
        if (outcome.reply)
            fake.queue.push_back({fake.now_us + outcome.delay_ms * 1000ull,
                                  htonl(outcome.from_alt ? fixture.config.alt : fixture.config.bind), outcome.packet});
    }
    return true;
}

long receive_datagram(ArtSocket *, uint8_t *buffer, size_t capacity, uint64_t deadline_us, uint32_t *sender,
                      int *error)
{
    // The datagram due first (the earliest sent among equals), if it is due
    // by the deadline; the flood's next one if that is due sooner.
    auto next = std::min_element(fake.queue.begin(), fake.queue.end(),
                                 [](const FakeNetwork::Datagram &a, const FakeNetwork::Datagram &b) {
                                     return a.due_us < b.due_us;
                                 });
    const bool flood = fake.flood.every_us && fake.flood.next_us < 60000000 &&
                       (next == fake.queue.end() || fake.flood.next_us < next->due_us);
    const uint64_t due = flood ? fake.flood.next_us : next == fake.queue.end() ? UINT64_MAX : next->due_us;
    if (due > std::max(fake.now_us, deadline_us)) {
        fake.now_us = std::max(fake.now_us, deadline_us);
        *error = EAGAIN;
        return -1;
    }
    FakeNetwork::Datagram datagram = {due, htonl(0x02000032), std::vector<uint8_t>(fake.flood.bytes, 0)};
    if (flood) {
        fake.flood.next_us += fake.flood.every_us;
    } else {
        datagram = *next;
        fake.queue.erase(next);
    }
    fake.now_us = std::max(fake.now_us, datagram.due_us);
    *sender = datagram.sender;
    if (datagram.bytes.size() > capacity) {
        *error = EMSGSIZE;
        return -1;
    }
    std::memcpy(buffer, datagram.bytes.data(), datagram.bytes.size());
    return static_cast<long>(datagram.bytes.size());
}

int getifaddrs(InterfaceEntry **list)
{
    *list = nullptr;
    for (const std::string &cidr : fake.interfaces) {
        const size_t slash = cidr.find('/');
        append_interface(list, "fake", IFACE_UP | IFACE_BROADCAST | IFACE_CARRIER, inet_addr(cidr.substr(0, slash).c_str()),
                         prefix_netmask(std::stoul(cidr.substr(slash + 1))));
    }
    return 0;
}
