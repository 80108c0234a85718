// What a fixture's transfer tells as it goes, as plain values. The
// transfer engine emits them to a sink and prints nothing; the report unit
// renders them (the progress line of one upload, the event lines of a
// parallel run, JSON Lines). The update stage emits the two events of a
// fixture that is never started.
#pragma once

#include <cstdint>

enum class TransferEventKind {
    Started,          // the upload begins: `block_count`
    BlockRead,        // the block is in hand, read from the image
    BlockSent,        // attempt `attempt` went out
    AttemptFailed,    // attempt `attempt` ended without an answer: `send_error` or no reply in time
    BlockAccepted,    // `value`: the reply type, FirmBlockGood or FirmAllGood
    Uploaded,         // every block accepted
    RestartBegun,     // the fixture restarts; it is polled until it answers
    Confirmed,        // it answered with `version`, the image's
    // The fixture has failed:
    BlockUnanswered,  // `attempt` attempts without a reply (`send_error`: none could be sent)
    BlockRejected,    // `value`: the reply type it answered with
    BlockUnreadable,  // the block could not be read from the image file
    WrongVersion,     // it came back with `version`, not the image's `expected`
    NoAnswer,         // silent for `value` seconds after the upload
    // Never started (emitted by the update stage):
    NotNeeded,        // named with -u, but not among the fixtures that need the image
    HeldBack,         // `value` fixtures had failed, the limit of -k (`limit`)
    // Messages about the fixture; the transfer goes on:
    SendFailed,       // `value`: the C library's errno
    ReceiveError,     // `value`: the platform's socket error number
    BadProtocol,      // an ArtFirmwareReply of an older protocol version
    // Real nodes (each only where its situation occurs):
    LastBlockUnacknowledged,  // with -c, the last block went unanswered (`value` -1) or a resent one was
                              // refused (`value` the reply type); the restart will tell
    LastAckLost,      // ... and the fixture came back with the image's version: it took the image
    RetryWaiting,     // -r: the transfer failed; try `attempt` follows the node's time-out of `value` s
    Retrying,         // -r: the fixture answers again; try `attempt` of `limit` begins
    RetryNoAnswer,    // -r: it did not answer within `value` s after its failure (final)
    FoundByMac,       // it answered from `moved_to` with its MAC: the same fixture, at a new address
    NodeSays,         // its ArtPollReply explains itself: `text` (NodeReport and status bits)
    Conflict,         // never started: `value` devices answer at its address, MACs in `text`
    LinkDown,         // the block could not be sent: the network link stayed down for `value` s (final,
                      // or `retry`)
    // Never started (emitted by the update stage), like NotNeeded and HeldBack:
    Stopped,          // the run was told to stop (-S) before the fixture's turn
    HeldByTestGroup,  // `value` of the first `limit` fixtures (-n) failed
};

struct TransferEvent {
    TransferEventKind kind = TransferEventKind::Started;
    uint32_t fixture = 0;     // IPv4, network byte order
    uint64_t at_us = 0;       // on the socket's monotonic clock (clock_us)
    uint32_t block = 0;       // from 1
    uint32_t block_count = 0;
    int attempt = 0;          // from 1
    bool send_error = false;
    int value = 0;
    unsigned limit = 0;
    uint16_t version = 0, expected = 0;
    bool retry = false;       // a failure that -r follows with another try
    uint32_t moved_to = 0;    // FoundByMac: the new address, network byte order
    const char *text = nullptr;  // NodeSays, Conflict: valid during the call
    const char *image = nullptr;  // Started, with -l: the file of the image it gets
};

// Where a transfer's events go. Called as they happen, in their order.
using TransferSink = void (*)(const TransferEvent &event);
