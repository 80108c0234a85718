// The host's IPv4 interfaces and the choice of the one that faces the
// fixtures.
#pragma once

#include <cstdint>

constexpr uint32_t IFACE_UP = 1;
constexpr uint32_t IFACE_BROADCAST = 2;
constexpr uint32_t IFACE_LOOPBACK = 4;
constexpr uint32_t IFACE_CARRIER = 8;  // its link carries: Linux IFF_RUNNING, Windows operationally up
constexpr uint16_t IFACE_FAMILY_INET = 2;  // AF_INET on every supported platform

// An IPv4 socket address reduced to what the choice needs; `addr` is in
// network byte order.
struct InterfaceAddress {
    uint16_t family;
    uint32_t addr;
};

// One interface in a singly linked list; every entry owns its name and
// addresses. `broadcast` is present only for broadcast-capable interfaces.
struct InterfaceEntry {
    InterfaceEntry *next;
    char *name;
    uint32_t flags;
    InterfaceAddress *address;
    InterfaceAddress *netmask;
    InterfaceAddress *broadcast;
    void *data;
};

// Platform: the dotted-quad parser of the sockets interface (inet_addr):
// network byte order, 255.255.255.255 for an unparsable text.
uint32_t parse_ipv4_address(const char *text);

// Platform: fills `*list` with the host's IPv4 interfaces in the platform's
// order and returns 0, or returns -1. An empty list is not a failure.
int getifaddrs(InterfaceEntry **list);

// Releases a list built by getifaddrs; accepts nullptr.
void free_interface_list(InterfaceEntry *list);

// Appends a new entry; used by the platform enumerations and by tests.
// Returns nullptr when out of memory.
InterfaceEntry *append_interface(InterfaceEntry **list, const char *name, uint32_t flags,
                                 uint32_t address, uint32_t netmask);

// The netmask of a prefix length (0 to 32), in network byte order.
uint32_t prefix_netmask(unsigned prefix_length);

struct SourceInterface {
    uint32_t address;
    uint32_t netmask;
    uint32_t broadcast;
};

// True for an interface a run may use: IPv4, up, broadcast-capable, not
// loopback.
bool interface_qualifies(const InterfaceEntry *entry);

// Walks `list` for the first qualifying interface (IPv4, up,
// broadcast-capable, not loopback) whose address is `source`, or, when
// `source` is 0, whose network holds 2.0.0.1.
bool match_source_interface(const InterfaceEntry *list, uint32_t source, SourceInterface *chosen);

// False when the interface that holds `source` has lost its link (no
// carrier: a cable pulled, a switch restarting); true while it carries,
// and whenever that cannot be told (`source` 0 or on no interface, no
// list). An interface that is gone makes sends fail instead.
bool source_link_carries(uint32_t source);

// Enumerates the host's interfaces and matches them as above; reports a
// failed enumeration ("getifaddrs: ...") and fails. No other message.
bool choose_source_interface(uint32_t source, SourceInterface *chosen);
