// The interface that faces the fixtures, chosen from hand-built lists (the
// host's own list is the namespace tests' part).
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <sstream>

#include "netif.h"

namespace {

std::string text(uint32_t address) { return inet_ntoa(in_addr {address}); }

// Interfaces "A.B.C.D/P", up and broadcast-capable unless "down", "loopback" or
// "p2p" (no broadcast) follows. Returns "address netmask broadcast", or "none".
std::string choose(const std::vector<std::string> &interfaces, const char *source)
{
    InterfaceEntry *list = nullptr;
    for (const std::string &line : interfaces) {
        std::istringstream in(line);
        std::string cidr, kind;
        in >> cidr >> kind;
        const uint32_t flags = kind == "down" ? IFACE_BROADCAST
                               : kind == "loopback" ? IFACE_UP | IFACE_BROADCAST | IFACE_LOOPBACK
                               : kind == "p2p" ? IFACE_UP : IFACE_UP | IFACE_BROADCAST;
        const size_t slash = cidr.find('/');
        append_interface(&list, "eth", flags, inet_addr(cidr.substr(0, slash).c_str()),
                         prefix_netmask(std::stoul(cidr.substr(slash + 1))));
    }
    SourceInterface chosen {};
    const bool found = match_source_interface(list, inet_addr(source), &chosen);
    free_interface_list(list);
    return found ? text(chosen.address) + " " + text(chosen.netmask) + " " + text(chosen.broadcast) : "none";
}

TEST(Interfaces, Choice)
{
    const struct {
        std::vector<std::string> interfaces;
        const char *source;
        const char *chosen;
    } rows[] = {
        {{"2.0.0.10/8"}, "0.0.0.0", "2.0.0.10 255.0.0.0 2.255.255.255"},
        {{"10.0.0.5/8", "2.1.2.3/8"}, "0.0.0.0", "2.1.2.3 255.0.0.0 2.255.255.255"},  // whatever the order
        {{"192.168.1.10/24"}, "0.0.0.0", "none"},
        {{"192.168.1.10/24"}, "192.168.1.10", "192.168.1.10 255.255.255.0 192.168.1.255"},
        {{"10.0.0.5/8"}, "10.0.0.6", "none"},
        {{"10.0.0.5/8 down"}, "10.0.0.5", "none"},
        {{"2.0.0.1/8 loopback", "2.0.0.2/8 p2p"}, "0.0.0.0", "none"},
        {{"2.0.0.1/8 loopback", "2.0.0.2/8 p2p"}, "2.0.0.2", "none"},
        {{"10.1.2.3/20"}, "10.1.2.3", "10.1.2.3 255.255.240.0 10.1.15.255"},
        {{"172.16.0.1/0"}, "0.0.0.0", "172.16.0.1 0.0.0.0 255.255.255.255"},  // 2.0.0.1 is in every /0
    };
    for (const auto &row : rows)
        EXPECT_EQ(choose(row.interfaces, row.source), row.chosen) << row.interfaces[0] << " " << row.source;
}

}  // namespace
