// The UDP endpoint on Windows Sockets. Only the calls that WSOCK32 exports
// are used (socket, bind, setsockopt, sendto, recvfrom, closesocket, htons,
// htonl, inet_addr, WSAStartup, WSACleanup, WSAGetLastError), so the
// program links against wsock32 alone.
#include "socket.h"

#include <winsock2.h>

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

bool net_startup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void net_cleanup()
{
    WSACleanup();
}

uint32_t parse_ipv4_address(const char *text)
{
    return static_cast<uint32_t>(inet_addr(text));
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
        report_socket_create_failed();
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

// SO_RCVTIMEO on Windows is a DWORD of milliseconds; 0 waits without limit.
bool set_receive_timeout(ArtSocket *socket, uint32_t milliseconds)
{
    DWORD value = milliseconds;
    if (setsockopt(as_socket(socket->handle), SOL_SOCKET, SO_RCVTIMEO,
                   reinterpret_cast<const char *>(&value), sizeof value) == SOCKET_ERROR)
        return false;
    socket->timeout_ms = milliseconds;
    return true;
}

bool send_datagram(ArtSocket *socket, uint32_t destination, const uint8_t *data, size_t length,
                   int *error)
{
    sockaddr_in peer = artnet_address(destination);
    int sent = sendto(as_socket(socket->handle), reinterpret_cast<const char *>(data),
                      static_cast<int>(length), 0, reinterpret_cast<const sockaddr *>(&peer),
                      sizeof peer);
    if (sent >= 0 && static_cast<size_t>(sent) == length)
        return true;
    // The failure message carries the C runtime's errno, as it always has.
    *error = errno;
    return false;
}

// Winsock fails a receive whose datagram is longer than the buffer with
// WSAEMSGSIZE (10040) and drops the datagram; the partial bytes it leaves
// in the buffer are never handed on. The time-out is WSAETIMEDOUT (10060).
long receive_datagram(ArtSocket *socket, uint8_t *buffer, size_t capacity, uint32_t *sender,
                      int *error)
{
    sockaddr_in from;
    int from_length = sizeof from;
    memset(&from, 0, sizeof from);
    int got = recvfrom(as_socket(socket->handle), reinterpret_cast<char *>(buffer),
                       static_cast<int>(capacity), 0, reinterpret_cast<sockaddr *>(&from),
                       &from_length);
    if (got == SOCKET_ERROR) {
        *error = WSAGetLastError();
        return -1;
    }
    *sender = from.sin_family == AF_INET ? from.sin_addr.s_addr : 0;
    return got;
}

bool is_receive_timeout(int error)
{
    return error == WSAETIMEDOUT;
}
