// Interface list on Windows: getifaddrs on top of the IP Helper's
// GetAdaptersAddresses; the address parser of Windows Sockets.
#include "netif.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

// First guess for the adapter table; a host with many adapters needs more,
// and GetAdaptersAddresses then says how much. The table can grow between
// two calls (an adapter appears), hence a few tries rather than two.
static const ULONG ADAPTER_BUFFER_SIZE = 15000;
static const int ADAPTER_TRIES = 3;

// The friendly name is wide text; it is converted with the C runtime's
// current locale into at most 260 bytes plus the terminator.
static const size_t NAME_BUFFER_SIZE = 261;

static uint32_t adapter_flags(const IP_ADAPTER_ADDRESSES *adapter)
{
    uint32_t flags = 0;
    if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
        flags |= IFACE_LOOPBACK;
    if (adapter->IfType != IF_TYPE_PPP && adapter->IfType != IF_TYPE_SOFTWARE_LOOPBACK)
        flags |= IFACE_BROADCAST;
    if (adapter->OperStatus == IfOperStatusUp)
        flags |= IFACE_UP | IFACE_CARRIER;
    return flags;
}

// Appends the entry of one adapter: its first unicast IPv4 address and that
// address's on-link prefix. An adapter without an IPv4 address (an unplugged
// card, say) offers nothing to choose and is left out rather than failing
// the whole list; an entry that cannot be allocated fails it.
static bool append_adapter(InterfaceEntry **list, const IP_ADAPTER_ADDRESSES *adapter)
{
    const IP_ADAPTER_UNICAST_ADDRESS *unicast = adapter->FirstUnicastAddress;
    if (!unicast || !unicast->Address.lpSockaddr
        || unicast->Address.lpSockaddr->sa_family != AF_INET)
        return true;
    const sockaddr_in *address = reinterpret_cast<const sockaddr_in *>(unicast->Address.lpSockaddr);

    char name[NAME_BUFFER_SIZE];
    memset(name, 0, sizeof name);
    const char *entry_name = nullptr;
    if (adapter->FriendlyName) {
        if (wcstombs(name, adapter->FriendlyName, NAME_BUFFER_SIZE - 1) == static_cast<size_t>(-1))
            memset(name, 0, sizeof name);  // unconvertible text: an empty name
        entry_name = name;
    }
    return append_interface(list, entry_name, adapter_flags(adapter), address->sin_addr.s_addr,
                            prefix_netmask(unicast->OnLinkPrefixLength))
           != nullptr;
}

uint32_t parse_ipv4_address(const char *text)
{
    return static_cast<uint32_t>(inet_addr(text));
}

int getifaddrs(InterfaceEntry **list)
{
    if (!list)
        return -1;

    int result = -1;
    InterfaceEntry *entries = nullptr;
    ULONG size = ADAPTER_BUFFER_SIZE;
    IP_ADAPTER_ADDRESSES *adapters = nullptr;
    ULONG status = ERROR_BUFFER_OVERFLOW;

    // ERROR_BUFFER_OVERFLOW leaves in `size` what the table needs now.
    for (int attempt = 0; attempt < ADAPTER_TRIES && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
        free(adapters);
        adapters = static_cast<IP_ADAPTER_ADDRESSES *>(malloc(size));
        if (!adapters)
            goto done;
        status = GetAdaptersAddresses(AF_INET, GAA_FLAG_INCLUDE_PREFIX, nullptr, adapters, &size);
    }

    if (status == ERROR_NO_DATA) {
        // No IPv4 adapter at all: an empty list, not a failure.
        *list = nullptr;
        result = 0;
        goto done;
    }
    if (status != NO_ERROR)
        goto done;

    for (const IP_ADAPTER_ADDRESSES *adapter = adapters; adapter; adapter = adapter->Next) {
        if (!append_adapter(&entries, adapter))
            goto done;
    }
    *list = entries;
    entries = nullptr;
    result = 0;

done:
    free_interface_list(entries);
    free(adapters);
    return result;
}
