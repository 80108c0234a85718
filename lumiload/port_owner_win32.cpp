// The holder of UDP port 6454 on Windows: the IP Helper's table of UDP
// endpoints with their owners' process IDs (GetExtendedUdpTable), and the
// image name of that process (KERNEL32's QueryFullProcessImageNameA), so
// the program still needs no DLL beyond KERNEL32, msvcrt, WSOCK32 and
// IPHLPAPI. Windows' IPv6 sockets are IPv6-only unless their program asks
// otherwise, so the IPv4 table is the one to read.
#include "port_owner.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "packets.h"
#include "report.h"

// The table can grow between the call that sizes it and the one that fills
// it (a program opens a socket), hence a few tries.
static const int TABLE_TRIES = 3;

// The PID of the process that holds port 6454 where a bind to `source`
// clashes: on that address, else on any address (or anywhere when `source`
// is 0). 0 when there is none or the table cannot be read; Windows also
// shows 0 for endpoints it cannot attribute.
static DWORD holder_pid(uint32_t source)
{
    DWORD pid = 0;
    DWORD size = 0;
    MIB_UDPTABLE_OWNER_PID *table = nullptr;
    // The first call only says how many bytes the table needs.
    DWORD status = GetExtendedUdpTable(nullptr, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    for (int attempt = 0; attempt < TABLE_TRIES && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        free(table);
        table = static_cast<MIB_UDPTABLE_OWNER_PID *>(malloc(size));
        status = table ? GetExtendedUdpTable(table, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0)
                       : ERROR_NOT_ENOUGH_MEMORY;
    }
    for (DWORD i = 0; status == NO_ERROR && table && i < table->dwNumEntries; ++i) {
        const MIB_UDPROW_OWNER_PID &row = table->table[i];
        // The port is in network byte order in the low 16 bits.
        if (ntohs(static_cast<u_short>(row.dwLocalPort)) != ARTNET_PORT)
            continue;
        if (row.dwLocalAddr == source) {
            pid = row.dwOwningPid;  // the endpoint on this very address decides
            break;
        }
        if (source == 0 || row.dwLocalAddr == 0)
            pid = row.dwOwningPid;
    }
    free(table);
    return pid;
}

// The file name of the process's image, without its folder; "" for the
// system's own processes and for those closed to this user.
static std::string image_name(DWORD pid)
{
    std::string name;
    HANDLE process = pid ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
    if (!process)
        return name;
    char path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameA(process, 0, path, &length)) {
        name.assign(path, length);
        name.erase(0, name.find_last_of('\\') + 1);
    }
    CloseHandle(process);
    return name;
}

// Winsock does not set errno, so perror would print whatever the C runtime
// last left there ("No error" for a failed bind): the reason is the Winsock
// error's own, in the words the Linux build prints for the usual ones.
static std::string socket_error_text(int error)
{
    switch (error) {
    case WSAEADDRINUSE:
        return "Address already in use";
    case WSAEADDRNOTAVAIL:
        return "Cannot assign requested address";
    case WSAEACCES:
        return "Permission denied";
    }
    char text[512] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(error), 0, text,
                       sizeof text, nullptr) == 0)
        return "Windows Sockets error " + std::to_string(error);
    std::string reason = text;
    while (!reason.empty() && std::strchr("\r\n. ", reason.back()))
        reason.pop_back();
    return reason;
}

void explain_bind_failure(uint32_t source)
{
    const int error = WSAGetLastError();
    report_socket_bind_failed(socket_error_text(error).c_str());
    if (error != WSAEADDRINUSE)
        return;
    const DWORD pid = holder_pid(source);
    const std::string name = image_name(pid);
    if (!name.empty())
        report_port_owner(name.c_str(), pid);
}
