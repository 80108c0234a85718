// Why port 6454 could not be had: the program that holds it, when the system
// can tell (a lighting console, a visualiser or a second lumiload on the same
// computer). Implemented once per platform (port_owner_linux.cpp,
// port_owner_win32.cpp).
#pragma once

#include <cstdint>

// Reports a bind of a socket to `source`:6454 that has just failed (`source`
// in network byte order, 0 = any local address): the system's reason and,
// when the port is taken and its holder can be found, the holder's program
// name and process ID. Call it straight after the failed bind, while the
// system's error code is still the bind's.
void explain_bind_failure(uint32_t source);
