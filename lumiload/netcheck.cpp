#include "netcheck.h"

#include <cstring>
#include <string>
#include <vector>

#include "firewall.h"
#include "netif.h"
#include "packets.h"
#include "report.h"
#include "socket.h"

// The poll listens until no new fixture has answered for a second, as
// discovery does for its quiet end (3 s there; a check may be quicker).
static const uint64_t QUIET_END_US = 1000000;
static const uint64_t LONGEST_LISTEN_US = 10000000;
static const uint16_t SWAPPED_MAKER_CODE = static_cast<uint16_t>((MAKER_CODE & 0xFF) << 8 | MAKER_CODE >> 8);

static std::vector<CheckInterface> list_interfaces(const InterfaceEntry *list)
{
    std::vector<CheckInterface> interfaces;
    for (const InterfaceEntry *entry = list; entry; entry = entry->next) {
        if (!entry->address || entry->address->family != IFACE_FAMILY_INET || !entry->netmask)
            continue;
        CheckInterface item;
        item.name = entry->name ? entry->name : "";
        item.address = entry->address->addr;
        item.netmask = entry->netmask->addr;
        item.broadcast = entry->broadcast ? entry->broadcast->addr : 0;
        item.up = (entry->flags & IFACE_UP) != 0;
        item.carrier = (entry->flags & IFACE_CARRIER) != 0;
        item.loopback = (entry->flags & IFACE_LOOPBACK) != 0;
        item.artnet = interface_qualifies(entry);
        interfaces.push_back(item);
    }
    return interfaces;
}

// Every ArtPollReply heard on the interface's socket after one poll to its
// broadcast address, in the order they came (one per device and address).
static bool poll_interface(ArtSocket *socket, const CheckInterface &at, std::vector<PollReply> *answers)
{
    if (!enable_broadcast(socket))
        return false;
    receive_broadcasts_too(socket, at.address, at.broadcast);
    uint8_t poll[ART_POLL_SIZE];
    build_art_poll(poll);
    int error = 0;
    if (!send_datagram(socket, at.broadcast, poll, sizeof poll, &error)) {
        report_send_failed(error);
        return false;
    }
    const uint64_t started = clock_us();
    uint64_t quiet_from = started;
    uint8_t datagram[POLL_REPLY_BUFFER_SIZE];
    for (;;) {
        const uint64_t deadline = std::min(quiet_from + QUIET_END_US, started + LONGEST_LISTEN_US);
        std::memset(datagram, 0, sizeof datagram);
        uint32_t sender = 0;
        const long length = receive_datagram(socket, datagram, sizeof datagram, deadline, &sender, &error);
        if (length < 0 && is_receive_timeout(error))
            return true;
        if (length < 0 || !is_poll_reply(datagram, static_cast<size_t>(length))) {
            if (clock_us() >= deadline)
                return true;
            continue;
        }
        terminate_reply_texts(datagram);
        const PollReply reply = decode_poll_reply(datagram, static_cast<size_t>(length));
        bool known = false;
        for (const PollReply &seen : *answers)
            known = known || (seen.ip == reply.ip && std::memcmp(seen.mac, reply.mac, 6) == 0);
        if (!known) {
            answers->push_back(reply);
            quiet_from = clock_us();
        }
    }
}

static bool in_network(uint32_t address, const CheckInterface &at)
{
    return (address & at.netmask) == (at.address & at.netmask);
}

// The troubles of what answered on one interface, each reported with its
// fix; returns how many.
static unsigned judge_answers(const CheckInterface &at, const std::vector<CheckInterface> &all,
                              const std::vector<PollReply> &answers)
{
    unsigned problems = 0;
    for (size_t i = 0; i < answers.size(); ++i) {
        const PollReply &reply = answers[i];
        if (!in_network(reply.ip, at)) {
            const CheckInterface *home = nullptr;
            for (const CheckInterface &other : all)
                home = !home && other.up && !other.loopback && in_network(reply.ip, other) ? &other : home;
            report_check_outside(at, reply, home);
            ++problems;
        }
        if (reply.esta_code == SWAPPED_MAKER_CODE) {
            report_check_swapped_maker(reply);
            ++problems;
        }
        std::vector<const PollReply *> same;
        for (size_t j = 0; j < answers.size(); ++j) {
            if (answers[j].ip == reply.ip)
                same.push_back(&answers[j]);
        }
        if (same.size() > 1 && same.front() == &reply) {  // said once, at the first of them
            report_check_conflict(same);
            ++problems;
        }
    }
    return problems;
}

int run_network_check(const RunSettings &settings)
{
    InterfaceEntry *list = nullptr;
    if (getifaddrs(&list) == -1) {
        report_getifaddrs_failed();
        return 1;
    }
    const std::vector<CheckInterface> interfaces = list_interfaces(list);
    SourceInterface chosen {};
    const bool found = match_source_interface(list, settings.source, &chosen);
    free_interface_list(list);

    unsigned problems = 0;
    report_check_interfaces(interfaces);
    const CheckInterface *choice = nullptr;
    for (const CheckInterface &item : interfaces)
        choice = found && item.address == chosen.address ? &item : choice;
    report_check_choice(choice, settings.source);
    problems += !choice;

    for (const CheckInterface &item : interfaces) {
        const bool checked = settings.source ? &item == choice : item.artnet;
        if (!checked)
            continue;
        ArtSocket socket = open_artnet_socket(item.address);
        if (!artnet_socket_is_open(socket)) {
            report_check_port_taken(item);  // the bind's own lines above name the holder
            ++problems;
            continue;
        }
        std::vector<PollReply> answers;
        if (poll_interface(&socket, item, &answers)) {
            report_check_answers(item, answers);
            problems += judge_answers(item, interfaces, answers);
            if (&item == choice && answers.empty()) {
                report_check_nobody(item);
                ++problems;
            }
        } else {
            ++problems;
        }
        close_artnet_socket(&socket);
    }

    const FirewallCheck firewall = check_firewall();
    report_check_firewall(firewall);
    problems += firewall.blocks;
    report_check_end(problems);
    return problems == 0 ? 0 : 1;
}
