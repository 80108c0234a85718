// The holder of UDP port 6454 on Linux. /proc/net/udp lists the bound IPv4
// sockets with their inodes, /proc/net/udp6 the IPv6 ones, of which those
// bound to :: or to an IPv4-mapped address take the IPv4 port as well;
// /proc/<pid>/fd shows which process has an inode open. Another user's
// processes are closed to an unprivileged caller: a socket of theirs stays
// anonymous, and nothing more is printed.
#include "port_owner.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "packets.h"
#include "report.h"

// The kernel keeps 15 bytes of a program's name (/proc/<pid>/comm).
static const size_t KERNEL_NAME_LENGTH = 15;
static const char WINE_SERVER[] = "wineserver";  // also wineserver64

// The inodes of the sockets in `table` (a /proc/net/udp or udp6 file) that
// hold port 6454 where a bind to `source` would clash: on that address, on
// any address, or anywhere when `source` is 0. The file prints an address as
// raw 32-bit words in hexadecimal, which read back in network byte order.
static std::vector<unsigned long> port_inodes(const char *table, bool ipv6, uint32_t source)
{
    std::vector<unsigned long> inodes;
    FILE *file = std::fopen(table, "r");
    if (!file)
        return inodes;
    // The line of column titles fails the scan like any line of another port.
    char line[512];
    while (std::fgets(line, sizeof line, file)) {
        char address[33];
        unsigned port = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, "%*s %32[0-9A-Fa-f]:%x %*s %*s %*s %*s %*s %*s %*s %lu", address, &port, &inode) != 3
            || port != ARTNET_PORT || inode == 0 || std::strlen(address) != (ipv6 ? 32u : 8u))
            continue;
        // An IPv4 address as IPv6 writes it: ::ffff:a.b.c.d.
        uint32_t words[4] = {0, 0, htonl(0xFFFF), 0};
        for (int i = ipv6 ? 0 : 3, at = 0; i < 4; ++i, at += 8)
            words[i] = static_cast<uint32_t>(std::strtoul(std::string(address + at, 8).c_str(), nullptr, 16));
        const bool takes_ipv4 = !words[0] && !words[1] && (words[2] == htonl(0xFFFF) || (!words[2] && !words[3]));
        if (takes_ipv4 && (source == 0 || words[3] == 0 || words[3] == source))
            inodes.push_back(inode);
    }
    std::fclose(file);
    return inodes;
}

static bool holds_one_of(const std::string &fd_dir, const std::vector<unsigned long> &inodes)
{
    DIR *fds = opendir(fd_dir.c_str());
    if (!fds)  // another user's process, or one that has just ended
        return false;
    bool found = false;
    for (const dirent *fd; !found && (fd = readdir(fds));) {
        char link[64];
        const ssize_t length = readlink((fd_dir + "/" + fd->d_name).c_str(), link, sizeof link - 1);
        if (length <= 0)
            continue;
        link[length] = '\0';
        for (unsigned long inode : inodes)
            found = found || link == "socket:[" + std::to_string(inode) + "]";
    }
    closedir(fds);
    return found;
}

// The kernel's name of the process; where the kernel cut it short, the
// executable's file name, which it was cut from.
static std::string program_name(long pid)
{
    const std::string dir = "/proc/" + std::to_string(pid);
    std::string name;
    if (FILE *comm = std::fopen((dir + "/comm").c_str(), "r")) {
        char text[64] = "";
        if (std::fgets(text, sizeof text, comm))
            name.assign(text, std::strcspn(text, "\n"));
        std::fclose(comm);
    }
    char exe[4096];
    const ssize_t length = readlink((dir + "/exe").c_str(), exe, sizeof exe - 1);
    const std::string path(exe, length > 0 ? static_cast<size_t>(length) : 0);
    const std::string file = path.substr(path.rfind('/') + 1);
    if (name.empty() || (name.size() == KERNEL_NAME_LENGTH && file.compare(0, name.size(), name) == 0))
        name = file;
    return name;
}

struct Holder {
    long pid = 0;
    std::string name;
};

// A process that has one of `inodes` open, with its name; pid 0 for none.
// Wine's server keeps a copy of every socket that its Windows programs
// open, so a holder of another name is preferred: the program is the one to
// name, not the server.
static Holder find_holder(const std::vector<unsigned long> &inodes)
{
    Holder holder;
    DIR *processes = inodes.empty() ? nullptr : opendir("/proc");
    if (!processes)
        return holder;
    while (const dirent *entry = readdir(processes)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || !holds_one_of("/proc/" + std::string(entry->d_name) + "/fd", inodes))
            continue;
        holder = {pid, program_name(pid)};
        if (holder.name.rfind(WINE_SERVER, 0) != 0)
            break;
    }
    closedir(processes);
    return holder;
}

void explain_bind_failure(uint32_t source)
{
    const int error = errno;
    report_socket_bind_failed();
    if (error != EADDRINUSE)
        return;
    // The IPv4 sockets first: an IPv6-only socket on :: does not take the
    // IPv4 port, although the table cannot tell it from one that does.
    Holder holder = find_holder(port_inodes("/proc/net/udp", false, source));
    if (!holder.pid)
        holder = find_holder(port_inodes("/proc/net/udp6", true, source));
    if (!holder.name.empty())
        report_port_owner(holder.name.c_str(), static_cast<unsigned long>(holder.pid));
}
