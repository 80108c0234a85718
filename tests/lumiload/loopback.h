// Loopback helpers for tests that run lumiload without letting it reach any
// network: its socket's address is taken first, so the run stops at bind.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

// Holds `address`:6454 for the lifetime of the object.
class PortBlocker {
public:
    explicit PortBlocker(const char *address)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(6454);
        sa.sin_addr.s_addr = inet_addr(address);
        bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    ~PortBlocker() { close(fd_); }
    PortBlocker(const PortBlocker &) = delete;
    PortBlocker &operator=(const PortBlocker &) = delete;
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_;
};

// What lumiload prints on standard error when its socket cannot be bound
// because the port is taken.
inline std::string bind_in_use_errors()
{
    return "Error: Failed to bind UDP socket: Address already in use\nError: run_poll failed\n";
}
