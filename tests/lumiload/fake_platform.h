// A stand-in for lumiload's platform files (socket_linux.cpp and
// netif_linux.cpp) on a clock the test controls, with the fixtures
// played by vfixture's own packet logic. Nothing is sent and nothing waits:
// a receive moves the clock on to its datagram or to its deadline; replies
// are due when their fixture's fault script says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "node.h"

struct FakeNetwork {
    std::vector<FixtureState> fixtures;   // each answers at its bind and bcast addresses
    std::vector<std::string> interfaces;  // "A.B.C.D/P", up and broadcast-capable
    int sends = 0;                        // sends so far; those numbered (from 0) ...
    int failing_from = -1, failing_to = -1;  // ... from failing_from to before failing_to fail
    uint64_t now_us = 0;                  // the clock
    std::vector<std::string> log;         // "<ms> <fixture>: <vfixture event>"
    struct Datagram {
        uint64_t due_us;
        uint32_t sender;  // network byte order
        std::vector<uint8_t> bytes;
    };
    std::vector<Datagram> queue;  // on their way to lumiload's socket
    // Another controller's traffic from 2.0.0.50: `bytes` every `every_us`,
    // for the first minute.
    struct Flood {
        uint64_t every_us = 0;
        size_t bytes = 0;
        uint64_t next_us = 0;
    } flood;
    bool socket_open = false;
    // -S: the line "stop" arrives once the clock reaches stop_at_us (0:
    // never), if the run listens for it.
    uint64_t stop_at_us = 0;
    bool listening = false;
};

extern FakeNetwork fake;

// A new network: fixtures from vfixture specs, and the host's interfaces.
void fake_reset(const std::vector<std::string> &specs, const std::vector<std::string> &interfaces = {});

// The times (ms) of the log lines that contain `needle`.
std::vector<uint64_t> fake_times(const std::string &needle);
