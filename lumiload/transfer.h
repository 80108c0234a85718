// Firmware transfers as state machines over plain data, and the one loop
// that drives them from one socket. Per block a transfer empties the queue
// of its fixture's stale replies, sends the block, waits for the reply in
// receive windows (receive_window.h) and pauses; each phase ends at a
// deadline on the socket's clock or at a datagram from its fixture, so one
// transfer never blocks another, and any number of them share the socket.
// After the last block a transfer may wait for the fixture's restart and
// check the version it reports. A transfer prints nothing: it tells its
// sink what happens (events.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alf.h"
#include "events.h"
#include "packets.h"
#include "socket.h"

enum class TransferPhase {
    Idle,        // not started
    Emptying,    // its fixture's datagrams are discarded until the deadline
    Sending,     // the block goes out once the deadline has come
    Waiting,     // receive windows for the reply; a datagram may end them
    Pausing,     // after an accepted block, until the deadline
    Restarting,  // the fixture took the image and restarts: polled until it answers
    Resting,     // -r: after a failure, until the node's own transfer time-out has passed
    Recalling,   // -r: then polled until it answers, and the transfer begins again
    Done,
};

enum class TransferResult { Unfinished, Uploaded, Confirmed, Failed };

// Where a transfer's events go and how it ends.
struct TransferMode {
    TransferSink sink = nullptr;    // required
    bool confirm = false;           // after the last block, wait for the restart and check the version
    unsigned restart_limit_s = 60;  // how long the fixture may stay silent after the upload
    unsigned retries = 0;           // -r: further tries after a failed transfer
    unsigned node_timeout_s = 30;   // -r: the node's own transfer time-out, waited out before a try
    uint32_t broadcast = 0;         // where a DHCP fixture is polled too after its restart; 0 = nowhere
    unsigned link_wait_s = 20;      // how long a block waits for a network link that went down
    const char *image_name = nullptr;  // -l: the file its Started event names; outlives the transfer
};

// Who the fixture is, as discovery saw it: its MAC (all zero: unknown)
// and whether its address came from DHCP.
struct FixtureIdentity {
    uint8_t mac[6] = {};
    bool dhcp = false;
};

struct Transfer {
    uint32_t fixture = 0;        // IPv4, network byte order; datagrams are routed by it
    uint32_t named = 0;          // the address its events name: where discovery found it
    TransferMode mode;
    uint16_t image_version = 0;  // what the fixture should report after its restart
    uint64_t file_words = 0;     // the whole file in 16-bit words, header included
    uint32_t block_count = 0;
    uint32_t block = 0;          // index of the block in hand
    int attempt = 0;             // attempts at it that have ended
    int unsent = 0;              // of those, the ones that could not send
    int failed_windows = 0;      // receive windows of this attempt without a reply
    unsigned retries = 0;        // failed attempts over all blocks
    TransferPhase phase = TransferPhase::Idle;
    uint64_t deadline_us = 0;    // end of the phase, or of the current receive window
    uint64_t now_us = 0;         // the clock of the loop's turn: the time of the events it emits
    uint64_t started_us = 0, ended_us = 0;
    uint64_t restart_us = 0;     // when the fixture began to restart
    TransferResult result = TransferResult::Unfinished;  // once Done
    bool version_reported = false;  // the fixture answered after its restart, with:
    uint16_t reported_version = 0;
    FixtureIdentity identity;
    unsigned tries = 1;          // transfers begun (-r)
    uint64_t last_send_us = 0;   // the last block sent, from which the node's time-out runs
    uint64_t recall_us = 0;      // -r: when the polls for the next try began
    bool last_unacknowledged = false;  // -c: the last block's answer went missing
    uint32_t moved_to = 0;       // found again at this address by its MAC; 0 = not moved
    std::string node_word;       // what the fixture said of itself (node_explanation), when it failed
    struct Send {
        uint64_t at_us;
        uint32_t block;
    };
    std::vector<Send> unanswered;  // sends without their reply yet, oldest first, at most 2 s old
    bool took_late_reply = false;  // a reply in the block's windows settled an earlier block's send
    uint64_t longest_round_trip_us = 0;  // of the replies taken so far
    uint64_t link_lost_us = 0;   // when a send found the link down; 0 once a reply came after it
    bool link_back = false;      // since then a send went out again
    bool link_check_pending = false;  // every attempt failed: the link is looked at once more
    const std::vector<uint8_t> *image = nullptr;  // the whole image, header included, read once
    uint8_t packet[FIRMWARE_MASTER_SIZE] = {};  // the ArtFirmwareMaster of the block in hand
};

// Starts the transfer of the whole of `image` (the file's bytes, header
// included, read once) to `fixture` at `now_us`: takes the first block. The
// image belongs to the caller and outlives the transfer; transfers share it.
void start_transfer(Transfer *transfer, const std::vector<uint8_t> &image, const AlfHeader &header, uint32_t fixture, uint64_t now_us,
                    const TransferMode &mode, const FixtureIdentity &identity = FixtureIdentity());

// True while a block is in hand (the phases from Emptying to Pausing).
// A fixture that restarts or waits for a retry holds no place in -p.
bool transfer_in_flight(const Transfer &transfer);

// True once the transfer ended as it should: the image accepted, and with
// confirmation, its version reported after the restart.
bool transfer_succeeded(const Transfer &transfer);

// One turn of the loop: waits on `socket` until the earliest deadline of
// the active `transfers` or a datagram, hands the datagram to the transfer
// of its sender and moves on every transfer whose deadline has come. Idle
// and Done transfers are left alone. False when none was active.
bool step_transfers(ArtSocket *socket, Transfer *const *transfers, size_t count);

// Turns the loop until no transfer is active.
void run_transfers(ArtSocket *socket, Transfer *const *transfers, size_t count);
