// The UDP endpoint on Windows Sockets. Only the calls that WSOCK32 exports
// are used (socket, bind, setsockopt, select, sendto, recvfrom, closesocket,
// htons, htonl, inet_addr, WSAStartup, WSACleanup, WSAGetLastError), so the
// program links against wsock32 alone for its sockets.
//
// Receives wait in select() for the time left until their deadline, never
// with SO_RCVTIMEO: Windows 7 and earlier treat receive time-outs below
// 500 ms as 500 ms, and later versions round them up to the timer tick.
// For the same reason the run raises the timer resolution to 1 ms
// (timeBeginPeriod, winmm) from net_startup to net_cleanup: select() and
// every other timed wait of the process then wake within a millisecond of
// their time instead of on the default 15.6 ms tick.
#include "socket.h"

#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>

#include <cerrno>
#include <cstring>

#include "packets.h"
#include "port_owner.h"
#include "report.h"

// A SOCKET is an unsigned pointer-sized value; INVALID_SOCKET (~0) is the
// INVALID_HANDLE (-1) of ArtSocket once stored in an intptr_t.
static_assert(sizeof(SOCKET) == sizeof(intptr_t), "SOCKET must fit an intptr_t");

static SOCKET as_socket(intptr_t handle)
{
    return static_cast<SOCKET>(handle);
}

static const UINT TIMER_RESOLUTION_MS = 1;
static bool timer_resolution_raised = false;  // timeEndPeriod only matches a successful timeBeginPeriod

bool net_startup()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    // Refused, it leaves the waits to wake on the default tick: later, never early.
    timer_resolution_raised = timeBeginPeriod(TIMER_RESOLUTION_MS) == TIMERR_NOERROR;
    return true;
}

void net_cleanup()
{
    if (timer_resolution_raised)
        timeEndPeriod(TIMER_RESOLUTION_MS);
    timer_resolution_raised = false;
    WSACleanup();
}

uint64_t clock_us()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    // In two parts, so that the product cannot overflow on a long uptime.
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart), hz = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / hz * 1000000 + ticks % hz * 1000000 / hz;
}

static sockaddr_in artnet_address(uint32_t address)
{
    sockaddr_in peer;
    memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(ARTNET_PORT);
    peer.sin_addr.s_addr = address;
    return peer;
}

ArtSocket open_artnet_socket(uint32_t source)
{
    ArtSocket result;
    sockaddr_in local = artnet_address(source);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        report_error("Failed to create UDP socket.");
        return result;
    }
    // No SO_REUSEADDR: a second endpoint on the same address and port must
    // fail here rather than share the fixtures' replies.
    if (bind(s, reinterpret_cast<const sockaddr *>(&local), sizeof local) == SOCKET_ERROR) {
        explain_bind_failure(source);
        closesocket(s);
        return result;
    }
    // Room for hundreds of fixtures answering one poll at the same moment.
    const int receive_buffer = 4 * 1024 * 1024;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&receive_buffer), sizeof receive_buffer);
    result.handle = static_cast<intptr_t>(s);
    result.source = source;
    return result;
}

bool artnet_socket_is_open(const ArtSocket &socket)
{
    return socket.handle != INVALID_HANDLE;
}

void close_artnet_socket(ArtSocket *socket)
{
    if (socket->handle != INVALID_HANDLE)
        closesocket(as_socket(socket->handle));
    if (socket->broadcast_handle != INVALID_HANDLE)
        closesocket(as_socket(socket->broadcast_handle));
    socket->handle = INVALID_HANDLE;
    socket->broadcast_handle = INVALID_HANDLE;
}

bool enable_broadcast(ArtSocket *socket)
{
    BOOL on = TRUE;
    return setsockopt(as_socket(socket->handle), SOL_SOCKET, SO_BROADCAST,
                      reinterpret_cast<const char *>(&on), sizeof on) != SOCKET_ERROR;
}

// A Windows socket bound to an interface's unicast address already receives
// the datagrams sent to that subnet's broadcast address; no second socket.
void receive_broadcasts_too(ArtSocket *, uint32_t, uint32_t)
{
}

bool send_datagram(ArtSocket *socket, uint32_t destination, const uint8_t *data, size_t length,
                   int *error)
{
    sockaddr_in peer = artnet_address(destination);
    int sent = sendto(as_socket(socket->handle), reinterpret_cast<const char *>(data),
                      static_cast<int>(length), 0, reinterpret_cast<const sockaddr *>(&peer),
                      sizeof peer);
    const int failure = sent == SOCKET_ERROR ? WSAGetLastError() : 0;
    socket->link_down = failure == WSAENETDOWN || failure == WSAENETUNREACH || failure == WSAEHOSTUNREACH;
    if (sent >= 0 && static_cast<size_t>(sent) == length)
        return true;
    // The failure message carries the C runtime's errno, as it always has.
    *error = errno;
    return false;
}

// Waits in select() until the socket is readable or `deadline_us` has
// passed. Returns 1 when readable, 0 at the deadline, SOCKET_ERROR.
static int wait_readable(SOCKET s, uint64_t deadline_us)
{
    for (;;) {
        const uint64_t now = clock_us();
        const uint64_t left = deadline_us > now ? deadline_us - now : 0;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait;
        wait.tv_sec = static_cast<long>(left / 1000000);
        wait.tv_usec = static_cast<long>(left % 1000000);
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        // select() may return on the tick before the deadline; only the
        // clock says it came.
        if (ready != 0 || clock_us() >= deadline_us)
            return ready;
    }
}

// Winsock fails a receive whose datagram is longer than the buffer with
// WSAEMSGSIZE (10040) and drops the datagram, still filling in its sender;
// the partial bytes it leaves in the buffer are never handed on. The
// deadline is reported as WSAETIMEDOUT (10060), the code of a receive
// time-out.
long receive_datagram(ArtSocket *socket, uint8_t *buffer, size_t capacity, uint64_t deadline_us,
                      uint32_t *sender, int *error)
{
    *sender = 0;
    const int ready = wait_readable(as_socket(socket->handle), deadline_us);
    if (ready == 0)
        *error = WSAETIMEDOUT;
    if (ready == SOCKET_ERROR)
        *error = WSAGetLastError();
    if (ready <= 0)
        return -1;

    sockaddr_in from;
    int from_length = sizeof from;
    memset(&from, 0, sizeof from);
    int got = recvfrom(as_socket(socket->handle), reinterpret_cast<char *>(buffer),
                       static_cast<int>(capacity), 0, reinterpret_cast<sockaddr *>(&from),
                       &from_length);
    if (got == SOCKET_ERROR)
        *error = WSAGetLastError();
    if (got != SOCKET_ERROR || *error == WSAEMSGSIZE)
        *sender = from.sin_family == AF_INET ? from.sin_addr.s_addr : 0;
    return got == SOCKET_ERROR ? -1 : got;
}

bool is_receive_timeout(int error)
{
    return error == WSAETIMEDOUT;
}

int datagram_too_long_error()
{
    return WSAEMSGSIZE;
}
