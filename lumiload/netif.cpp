#include "netif.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "report.h"

static const uint32_t ARTNET_PROBE_ADDRESS_BYTES = 0x02000001;  // 2.0.0.1, host order

static uint32_t to_network_order(uint32_t host)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
                              static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
    uint32_t network;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}

uint32_t prefix_netmask(unsigned prefix_length)
{
    if (prefix_length > 32)
        prefix_length = 32;
    const uint32_t host = prefix_length == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix_length);
    return to_network_order(host);
}

static InterfaceAddress *new_address(uint32_t addr)
{
    InterfaceAddress *address = new (std::nothrow) InterfaceAddress;
    if (address) {
        address->family = IFACE_FAMILY_INET;
        address->addr = addr;
    }
    return address;
}

static void free_entry(InterfaceEntry *entry)
{
    delete[] entry->name;
    delete entry->address;
    delete entry->netmask;
    delete entry->broadcast;
    delete entry;
}

void free_interface_list(InterfaceEntry *list)
{
    while (list) {
        InterfaceEntry *next = list->next;
        free_entry(list);
        list = next;
    }
}

InterfaceEntry *append_interface(InterfaceEntry **list, const char *name, uint32_t flags, uint32_t address,
                                 uint32_t netmask)
{
    InterfaceEntry *entry = new (std::nothrow) InterfaceEntry();
    if (!entry)
        return nullptr;
    entry->flags = flags;
    if (name) {
        // A name is a convenience: without memory for it the entry goes on unnamed.
        const size_t length = std::strlen(name);
        entry->name = new (std::nothrow) char[length + 1];
        if (entry->name)
            std::memcpy(entry->name, name, length + 1);
    }
    entry->address = new_address(address);
    entry->netmask = new_address(netmask);
    if (flags & IFACE_BROADCAST)
        entry->broadcast = new_address((address & netmask) | ~netmask);
    if (!entry->address || !entry->netmask || ((flags & IFACE_BROADCAST) && !entry->broadcast)) {
        free_entry(entry);
        return nullptr;
    }
    InterfaceEntry **tail = list;
    while (*tail)
        tail = &(*tail)->next;
    *tail = entry;
    return entry;
}

bool interface_qualifies(const InterfaceEntry *entry)
{
    return entry->address && entry->netmask && entry->address->family == IFACE_FAMILY_INET &&
           !(entry->flags & IFACE_LOOPBACK) && (entry->flags & IFACE_BROADCAST) && entry->broadcast &&
           (entry->flags & IFACE_UP);
}

bool match_source_interface(const InterfaceEntry *list, uint32_t source, SourceInterface *chosen)
{
    const uint32_t probe = to_network_order(ARTNET_PROBE_ADDRESS_BYTES);
    for (const InterfaceEntry *entry = list; entry; entry = entry->next) {
        if (!interface_qualifies(entry))
            continue;
        const uint32_t address = entry->address->addr;
        const uint32_t netmask = entry->netmask->addr;
        const bool matches = source != 0 ? address == source : (address & netmask) == (probe & netmask);
        if (matches) {
            chosen->address = address;
            chosen->netmask = netmask;
            chosen->broadcast = entry->broadcast->addr;
            return true;
        }
    }
    return false;
}

bool choose_source_interface(uint32_t source, SourceInterface *chosen)
{
    InterfaceEntry *list = nullptr;
    if (getifaddrs(&list) == -1) {
        report_getifaddrs_failed();
        return false;
    }
    const bool found = match_source_interface(list, source, chosen);
    free_interface_list(list);
    return found;
}

bool source_link_carries(uint32_t source)
{
    InterfaceEntry *list = nullptr;
    if (source == 0 || getifaddrs(&list) != 0)
        return true;
    bool carries = true;  // an address of no interface (one of loopback's 127/8, say) tells nothing
    for (const InterfaceEntry *entry = list; entry; entry = entry->next) {
        if (entry->address && entry->address->family == IFACE_FAMILY_INET && entry->address->addr == source)
            carries = (entry->flags & IFACE_CARRIER) != 0;
    }
    free_interface_list(list);
    return carries;
}
