// Linux implementation of the Art-Net endpoint. It relies on Linux beyond
// POSIX: prctl's timer slack, SO_RCVBUFFORCE, and MSG_TRUNC returning a
// datagram's real length.
//
// Receives wait with ppoll() until a deadline on the monotonic clock, to the
// microsecond; SO_RCVTIMEO would round every wait up to the scheduler tick
// and stretch both discovery and upload.

#include <arpa/inet.h>
#include <sys/prctl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "packets.h"
#include "port_owner.h"
#include "report.h"
#include "socket.h"

// Room for hundreds of fixtures answering one poll at the same moment.
static const int RECEIVE_BUFFER_BYTES = 4 * 1024 * 1024;

bool net_startup()
{
    // The kernel may let a timed wait run up to 50 us late, to batch
    // wake-ups; an upload makes three timed waits per block, a discovery
    // three hundred. Ask for exact wake-ups instead.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    return true;
}
void net_cleanup() {}

uint64_t clock_us()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

static sockaddr_in artnet_address(uint32_t address)
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(ARTNET_PORT);
    sa.sin_addr.s_addr = address;
    return sa;
}

static void enlarge_receive_buffer(int fd)
{
    // Unprivileged processes are capped by net.core.rmem_max; the forced
    // variant lifts the cap where we are allowed to.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &RECEIVE_BUFFER_BYTES, sizeof RECEIVE_BUFFER_BYTES) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &RECEIVE_BUFFER_BYTES, sizeof RECEIVE_BUFFER_BYTES);
}

ArtSocket open_artnet_socket(uint32_t source)
{
    ArtSocket result;
    const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) {
        report_error("Failed to create UDP socket.");
        return result;
    }
    const sockaddr_in local = artnet_address(source);
    if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        explain_bind_failure(source);
        close(fd);
        return result;
    }
    enlarge_receive_buffer(fd);
    result.handle = fd;
    result.source = source;
    return result;
}

bool artnet_socket_is_open(const ArtSocket &socket) { return socket.handle != INVALID_HANDLE; }

void close_artnet_socket(ArtSocket *socket)
{
    if (socket->handle != INVALID_HANDLE)
        close(static_cast<int>(socket->handle));
    if (socket->broadcast_handle != INVALID_HANDLE)
        close(static_cast<int>(socket->broadcast_handle));
    socket->handle = INVALID_HANDLE;
    socket->broadcast_handle = INVALID_HANDLE;
}

bool enable_broadcast(ArtSocket *socket)
{
    const int on = 1;
    return setsockopt(static_cast<int>(socket->handle), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

void receive_broadcasts_too(ArtSocket *socket, uint32_t source, uint32_t broadcast)
{
    // A socket bound to any address already sees broadcasts; one bound to a
    // unicast address needs a partner bound to the broadcast address.
    if (source == 0 || broadcast == source || socket->broadcast_handle != INVALID_HANDLE)
        return;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0)
        return;
    const sockaddr_in local = artnet_address(broadcast);
    if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        close(fd);
        return;
    }
    enlarge_receive_buffer(fd);
    socket->broadcast_handle = fd;
}

bool send_datagram(ArtSocket *socket, uint32_t destination, const uint8_t *data, size_t length, int *error)
{
    const sockaddr_in peer = artnet_address(destination);
    const ssize_t sent = sendto(static_cast<int>(socket->handle), data, length, 0,
                                reinterpret_cast<const sockaddr *>(&peer), sizeof peer);
    socket->link_down = sent < 0 && (errno == ENETDOWN || errno == ENETUNREACH || errno == EHOSTUNREACH);
    if (sent == static_cast<ssize_t>(length))
        return true;
    *error = sent < 0 ? errno : 0;
    return false;
}

// Waits until one of the socket's handles is readable or `deadline_us` has
// passed; returns its index in `fds`, or -1 with *error set (EAGAIN for the
// deadline).
static int wait_readable(pollfd fds[2], int count, uint64_t deadline_us, int *error)
{
    for (;;) {
        const uint64_t now = clock_us();
        const uint64_t left = deadline_us > now ? deadline_us - now : 0;
        const timespec wait = {static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
        const int ready = ppoll(fds, static_cast<nfds_t>(count), &wait, nullptr);
        if (ready > 0) {
            for (int i = 0; i < count; ++i) {
                if (fds[i].revents)
                    return i;
            }
        }
        // ppoll may wake a little early; only the clock says the deadline came.
        if (ready == 0 && clock_us() >= deadline_us) {
            *error = EAGAIN;
            return -1;
        }
        if (ready < 0 && errno != EINTR) {
            *error = errno;
            return -1;
        }
    }
}

long receive_datagram(ArtSocket *socket, uint8_t *buffer, size_t capacity, uint64_t deadline_us, uint32_t *sender,
                      int *error)
{
    pollfd fds[2] = {{static_cast<int>(socket->handle), POLLIN, 0},
                     {static_cast<int>(socket->broadcast_handle), POLLIN, 0}};
    const int count = socket->broadcast_handle != INVALID_HANDLE ? 2 : 1;
    const int ready = wait_readable(fds, count, deadline_us, error);
    *sender = 0;
    if (ready < 0)
        return -1;

    sockaddr_in from {};
    socklen_t from_length = sizeof from;
    // MSG_TRUNC reports the datagram's real length, so an oversize datagram
    // is recognised and dropped rather than taken in part; the sender's
    // address is filled in either way.
    const ssize_t got = recvfrom(fds[ready].fd, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr *>(&from), &from_length);
    if (got < 0) {
        *error = errno;
        return -1;
    }
    *sender = from.sin_family == AF_INET ? from.sin_addr.s_addr : 0;
    if (static_cast<size_t>(got) > capacity) {
        *error = EMSGSIZE;
        return -1;
    }
    return static_cast<long>(got);
}

bool is_receive_timeout(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
int datagram_too_long_error() { return EMSGSIZE; }
