// Firmware transfers as state machines over plain data, and the one loop
// that drives them from one socket. Per block a transfer empties the queue
// of its fixture's stale replies, sends the block, waits for the reply in
// receive windows (receive_window.h) and pauses; each phase ends at a
// deadline on the socket's clock or at a datagram from its fixture, so one
// transfer never blocks another. Progress marks and messages go through the
// report unit as the transfer makes them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "alf.h"
#include "packets.h"
#include "socket.h"

enum class TransferPhase {
    Emptying,  // its fixture's datagrams are discarded until the deadline
    Sending,   // the block goes out once the deadline has come
    Waiting,   // receive windows for the reply; a datagram may end them
    Pausing,   // after an accepted block, until the deadline
    Done,
};

struct Transfer {
    uint32_t fixture = 0;        // IPv4, network byte order; datagrams are routed by it
    uint64_t file_words = 0;     // the whole file in 16-bit words, header included
    uint32_t block_count = 0;
    uint32_t block = 0;          // index of the block in hand
    int attempt = 0;             // attempts at it that have ended
    int failed_windows = 0;      // receive windows of this attempt without a reply
    TransferPhase phase = TransferPhase::Done;
    uint64_t deadline_us = 0;    // end of the phase, or of the current receive window
    bool succeeded = false;      // once Done: every block was accepted
    uint8_t packet[FIRMWARE_MASTER_SIZE] = {};  // the ArtFirmwareMaster of the block in hand
};

// Starts the transfer of the whole of `file` (header included) to `fixture`
// at `now_us`: takes the first block. The file belongs to the caller and
// stands at its start; the transfer reads its blocks from it in order.
void start_transfer(Transfer *transfer, FILE *file, const AlfHeader &header, uint32_t fixture, uint64_t now_us);

// Drives `transfers` until every one is Done: waits on `socket` until the
// earliest deadline, hands each datagram to the transfer of its sender and
// moves on every transfer whose deadline has come.
void run_transfers(ArtSocket *socket, FILE *file, Transfer *transfers, size_t count);
