// The UDP endpoint on port 6454. Implemented once per platform
// (socket_linux.cpp, socket_win32.cpp); callers see only this interface.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr intptr_t INVALID_HANDLE = -1;

// One Art-Net endpoint. `handle` is bound to the source address; where the
// platform does not deliver broadcasts to a socket bound to a unicast
// address, `broadcast_handle` is a second socket bound to the interface's
// broadcast address.
struct ArtSocket {
    intptr_t handle = INVALID_HANDLE;
    intptr_t broadcast_handle = INVALID_HANDLE;
    bool link_down = false;  // the last send failed because the network link is gone
    uint32_t source = 0;     // the address it is bound to, network byte order; 0 = any
};

// Starts and stops the platform's sockets layer and what timed waits need
// for the length of the run (Windows: Windows Sockets 2.2 and a 1 ms timer
// resolution; Linux: exact wake-ups). Every successful start is matched by
// one stop.
bool net_startup();
void net_cleanup();

// The monotonic clock that receive deadlines are given on, in microseconds.
uint64_t clock_us();

// A UDP socket bound to `source`:6454 (0 = any local address). Reports its
// own failures and returns an ArtSocket whose handle is INVALID_HANDLE.
ArtSocket open_artnet_socket(uint32_t source);
bool artnet_socket_is_open(const ArtSocket &socket);
void close_artnet_socket(ArtSocket *socket);

bool enable_broadcast(ArtSocket *socket);

// Also receive datagrams sent to `broadcast` (the interface's directed
// broadcast address) where the platform needs a second socket for that.
// Best effort: if it cannot be arranged, only unicast replies are seen.
void receive_broadcasts_too(ArtSocket *socket, uint32_t source, uint32_t broadcast);

// Sends the whole datagram to `destination`:6454. Returns true only when all
// `length` bytes went out; otherwise `*error` holds the C library's errno,
// and the socket's `link_down` tells whether the network link was gone.
bool send_datagram(ArtSocket *socket, uint32_t destination, const uint8_t *data, size_t length,
                   int *error);

// Receives one datagram into `buffer`, waiting for it until `deadline_us`
// on clock_us() and not beyond (a deadline already past only takes what is
// queued). Returns its length and the sender's IPv4 address, or -1 with the
// platform's socket error code in `*error`: the time-out; a datagram longer
// than `capacity`, which is consumed and lost, never cut short, and whose
// sender is still given; or another error of the sockets layer, sender 0.
long receive_datagram(ArtSocket *socket, uint8_t *buffer, size_t capacity, uint64_t deadline_us,
                      uint32_t *sender, int *error);

// True when `error` from receive_datagram is the time-out.
bool is_receive_timeout(int error);

// The error code receive_datagram gives for a datagram longer than its
// buffer, for callers that hold a datagram to a shorter length of their own.
int datagram_too_long_error();
