// Linux implementation of the interface list and the address parser.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>

#include "netif.h"

uint32_t parse_ipv4_address(const char *text) { return inet_addr(text); }

int getifaddrs(InterfaceEntry **list)
{
    if (!list)
        return -1;
    ifaddrs *native = nullptr;
    if (::getifaddrs(&native) != 0)
        return -1;

    InterfaceEntry *result = nullptr;
    int status = 0;
    for (const ifaddrs *it = native; it; it = it->ifa_next) {
        // One entry per IPv4 address; the choice needs address and netmask.
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !it->ifa_netmask)
            continue;
        uint32_t flags = 0;
        if (it->ifa_flags & IFF_UP)
            flags |= IFACE_UP;
        if (it->ifa_flags & IFF_RUNNING)
            flags |= IFACE_CARRIER;
        if (it->ifa_flags & IFF_BROADCAST)
            flags |= IFACE_BROADCAST;
        if (it->ifa_flags & IFF_LOOPBACK)
            flags |= IFACE_LOOPBACK;
        const uint32_t address = reinterpret_cast<const sockaddr_in *>(it->ifa_addr)->sin_addr.s_addr;
        const uint32_t netmask = reinterpret_cast<const sockaddr_in *>(it->ifa_netmask)->sin_addr.s_addr;
        if (!append_interface(&result, it->ifa_name, flags, address, netmask)) {
            status = -1;
            break;
        }
    }
    ::freeifaddrs(native);
    if (status != 0) {
        free_interface_list(result);
        errno = ENOMEM;
        return -1;
    }
    *list = result;
    return 0;
}
