#include "transfer.h"

#include <cstring>

#include "receive_window.h"

static const int ATTEMPTS_PER_BLOCK = 3;
static const int SEND_TRIES = 3;
static const uint64_t EMPTYING_US = 1000;
static const uint64_t REPLY_WINDOW_US = 50000;
static const uint64_t PAUSE_AFTER_BLOCK_US = 50000;

// Reply windows of 50 ms before an attempt gives up: the fixture erases
// flash after the first block and writes it after the last one.
static const int FIRST_BLOCK_WAIT_LIMIT = 40;
static const int MIDDLE_BLOCK_WAIT_LIMIT = 1;
static const int LAST_BLOCK_WAIT_LIMIT = 150;

// A fixture that took an image restarts; it is polled once a second until
// it answers, for a minute at most.
static const uint64_t RESTART_POLL_US = 1000000;

static bool is_last_block(const Transfer &t) { return t.block + 1 == t.block_count; }

static int wait_limit(const Transfer &t)
{
    if (t.block == 0)
        return FIRST_BLOCK_WAIT_LIMIT;
    return is_last_block(t) ? LAST_BLOCK_WAIT_LIMIT : MIDDLE_BLOCK_WAIT_LIMIT;
}

// An event of the block in hand and its current attempt, at the time of
// the loop's turn.
static TransferEvent event_of(const Transfer &t, TransferEventKind kind)
{
    TransferEvent event;
    event.kind = kind;
    event.fixture = t.fixture;
    event.at_us = t.now_us;
    event.block = t.block + 1;
    event.block_count = t.block_count;
    event.attempt = t.attempt + 1;
    return event;
}

static void tell(const Transfer &t, TransferEventKind kind) { t.mode.sink(event_of(t, kind)); }

static void tell_value(const Transfer &t, TransferEventKind kind, int value)
{
    TransferEvent event = event_of(t, kind);
    event.value = value;
    t.mode.sink(event);
}

static void finish(Transfer *t, TransferResult result, uint64_t now_us)
{
    t->phase = TransferPhase::Done;
    t->result = result;
    t->ended_us = now_us;
}

static void begin_attempt(Transfer *t, uint64_t from_us)
{
    t->phase = TransferPhase::Emptying;
    t->deadline_us = from_us + EMPTYING_US;
    t->failed_windows = 0;
}

// Reads the block in hand (its 1024 bytes of the file, or what is left of
// it for the last block, zero-filled) and builds its packet; the first
// attempt begins at `from_us`.
static void begin_block(Transfer *t, FILE *file, uint64_t from_us)
{
    uint8_t type = FIRM_CONT;
    size_t length = FIRMWARE_BLOCK_SIZE;
    if (t->block == 0)
        type = FIRM_FIRST;
    if (is_last_block(*t)) {
        type = FIRM_LAST;
        const uint64_t tail_words = t->file_words % (FIRMWARE_BLOCK_SIZE / 2);
        if (tail_words != 0)
            length = static_cast<size_t>(tail_words * 2);
    }
    uint8_t data[FIRMWARE_BLOCK_SIZE] = {};
    // A long offset: images of 2 GiB and more cannot be read where long has
    // 32 bits (Windows), and no fixture takes such an image.
    const long offset = static_cast<long>(t->block) * static_cast<long>(FIRMWARE_BLOCK_SIZE);
    if (std::fseek(file, offset, SEEK_SET) != 0 || std::fread(data, length, 1, file) != 1) {
        tell(*t, TransferEventKind::BlockUnreadable);
        finish(t, TransferResult::Failed, from_us);
        return;
    }
    tell(*t, TransferEventKind::BlockRead);
    build_firmware_master(t->packet, type, t->block, static_cast<uint32_t>(t->file_words), data);
    t->attempt = 0;
    t->unsent = 0;
    begin_attempt(t, from_us);
}

// An attempt ended at `at_us`, unsent or without a reply in time; after the
// third the block, and the transfer, has failed.
static void attempt_failed(Transfer *t, bool send_error, uint64_t at_us)
{
    ++t->retries;
    t->unsent += send_error;
    TransferEvent event = event_of(*t, TransferEventKind::AttemptFailed);
    event.send_error = send_error;
    t->mode.sink(event);
    if (++t->attempt < ATTEMPTS_PER_BLOCK) {
        begin_attempt(t, at_us);
        return;
    }
    event.kind = TransferEventKind::BlockUnanswered;
    event.attempt = ATTEMPTS_PER_BLOCK;
    event.send_error = t->unsent == ATTEMPTS_PER_BLOCK;
    t->mode.sink(event);
    finish(t, TransferResult::Failed, at_us);
}

static void send_block(Transfer *t, ArtSocket *socket, uint64_t now_us)
{
    for (int i = 0; i < SEND_TRIES; ++i) {
        int error = 0;
        if (send_datagram(socket, t->fixture, t->packet, FIRMWARE_MASTER_SIZE, &error)) {
            tell(*t, TransferEventKind::BlockSent);
            t->phase = TransferPhase::Waiting;
            t->deadline_us = now_us + REPLY_WINDOW_US;
            return;
        }
        tell_value(*t, TransferEventKind::SendFailed, error);
    }
    attempt_failed(t, true, now_us);
}

// A receive window ended without a reply; the next one starts at `next_us`.
static void window_failed(Transfer *t, uint64_t next_us)
{
    if (++t->failed_windows < wait_limit(*t))
        t->deadline_us = next_us + REPLY_WINDOW_US;
    else
        attempt_failed(t, false, next_us);
}

// The fixture's reply to the block in hand: a good one lets the next block
// follow after the pause; any other answer is final.
static void judge_reply(Transfer *t, uint8_t type, uint64_t now_us)
{
    if (type != FIRM_BLOCK_GOOD && !(type == FIRM_ALL_GOOD && is_last_block(*t))) {
        tell_value(*t, TransferEventKind::BlockRejected, type);
        finish(t, TransferResult::Failed, now_us);
        return;
    }
    tell_value(*t, TransferEventKind::BlockAccepted, type);
    t->phase = TransferPhase::Pausing;
    t->deadline_us = now_us + PAUSE_AFTER_BLOCK_US;
}

static void begin_restart_wait(Transfer *t, uint64_t from_us)
{
    tell(*t, TransferEventKind::RestartBegun);
    t->phase = TransferPhase::Restarting;
    t->restart_us = from_us;
    t->deadline_us = from_us + RESTART_POLL_US;
}

// The first answer after the restart decides: the image's version, or the
// firmware the fixture fell back to.
static void judge_restart(Transfer *t, const uint8_t *reply, uint64_t now_us)
{
    t->version_reported = true;
    t->reported_version = decode_poll_reply(reply).version;
    const bool confirmed = t->reported_version == t->image_version;
    TransferEvent event = event_of(*t, confirmed ? TransferEventKind::Confirmed : TransferEventKind::WrongVersion);
    event.version = t->reported_version;
    event.expected = t->image_version;
    t->mode.sink(event);
    finish(t, confirmed ? TransferResult::Confirmed : TransferResult::Failed, now_us);
}

// A datagram from the transfer's fixture, or a failed receive (`length` <
// 0: too long, or an error of the sockets layer). A reply window takes an
// ArtFirmwareReply, the restart wait an ArtPollReply; in the other phases
// it is a stale reply and is discarded.
static void take_datagram(Transfer *t, const uint8_t *data, long length, int error, uint64_t now_us)
{
    if (t->phase == TransferPhase::Restarting && length >= 0 && is_poll_reply(data, static_cast<size_t>(length)))
        judge_restart(t, data, now_us);
    if (t->phase != TransferPhase::Waiting)
        return;
    if (length > static_cast<long>(FIRMWARE_REPLY_SIZE)) {
        length = -1;  // as if it had been received into a buffer of the reply's size
        error = datagram_too_long_error();
    }
    if (length < 0) {
        tell_value(*t, TransferEventKind::ReceiveError, error);
        window_failed(t, now_us);
        return;
    }
    switch (check_firmware_reply(data, static_cast<size_t>(length))) {
    case FirmwareReplyCheck::Accepted:
        judge_reply(t, data[FIRMWARE_REPLY_TYPE_OFFSET], now_us);
        break;
    case FirmwareReplyCheck::BadProtocol:
        tell(*t, TransferEventKind::BadProtocol);
        break;
    case FirmwareReplyCheck::NotAReply:
        break;
    }
}

// One more poll of a restarting fixture, or the end of the wait.
static void poll_restarting(Transfer *t, ArtSocket *socket)
{
    if (t->deadline_us - t->restart_us >= uint64_t(t->mode.restart_limit_s) * 1000000) {
        tell_value(*t, TransferEventKind::NoAnswer, static_cast<int>(t->mode.restart_limit_s));
        finish(t, TransferResult::Failed, t->deadline_us);
        return;
    }
    uint8_t poll[ART_POLL_SIZE];
    build_art_poll(poll);
    int error = 0;
    if (!send_datagram(socket, t->fixture, poll, sizeof poll, &error))
        tell_value(*t, TransferEventKind::SendFailed, error);
    t->deadline_us += RESTART_POLL_US;
}

// The phase's deadline has come. Phases that follow one another without a
// wait start from the deadline, so the timing does not drift.
static void reach_deadline(Transfer *t, ArtSocket *socket, FILE *file, uint64_t now_us)
{
    switch (t->phase) {
    case TransferPhase::Emptying:
        t->phase = TransferPhase::Sending;
        break;
    case TransferPhase::Sending:
        send_block(t, socket, now_us);
        break;
    case TransferPhase::Waiting:
        window_failed(t, t->deadline_us);
        break;
    case TransferPhase::Pausing:
        if (++t->block < t->block_count) {
            begin_block(t, file, t->deadline_us);
            break;
        }
        tell(*t, TransferEventKind::Uploaded);
        if (t->mode.confirm)
            begin_restart_wait(t, t->deadline_us);
        else
            finish(t, TransferResult::Uploaded, t->deadline_us);
        break;
    case TransferPhase::Restarting:
        poll_restarting(t, socket);
        break;
    case TransferPhase::Idle:
    case TransferPhase::Done:
        break;
    }
}

void start_transfer(Transfer *t, FILE *file, const AlfHeader &header, uint32_t fixture, uint64_t now_us,
                    const TransferMode &mode)
{
    *t = Transfer();
    t->fixture = fixture;
    t->mode = mode;
    t->image_version = header.version;
    t->file_words = static_cast<uint64_t>(header.data_length) + ALF_HEADER_WORDS;
    t->block_count = alf_block_count(header.data_length);
    t->started_us = now_us;
    t->now_us = now_us;
    tell(*t, TransferEventKind::Started);
    begin_block(t, file, now_us);
}

bool transfer_in_flight(const Transfer &t)
{
    return t.phase != TransferPhase::Idle && t.phase != TransferPhase::Restarting && t.phase != TransferPhase::Done;
}

bool transfer_succeeded(const Transfer &t)
{
    return t.result == (t.mode.confirm ? TransferResult::Confirmed : TransferResult::Uploaded);
}

static bool is_active(const Transfer &t) { return t.phase != TransferPhase::Idle && t.phase != TransferPhase::Done; }

bool step_transfers(ArtSocket *socket, FILE *file, Transfer *const *transfers, size_t count)
{
    const Transfer *first = nullptr;  // the earliest deadline
    for (size_t i = 0; i < count; ++i) {
        if (is_active(*transfers[i]) && (!first || transfers[i]->deadline_us < first->deadline_us))
            first = transfers[i];
    }
    if (!first)
        return false;
    // Room for an ArtPollReply after a restart; a reply to a block is held
    // to its own 36 bytes by take_datagram.
    uint8_t datagram[POLL_REPLY_BUFFER_SIZE];
    std::memset(datagram, 0, sizeof datagram);
    uint32_t sender = 0;
    int error = 0;
    const long length = receive_datagram(socket, datagram, sizeof datagram, first->deadline_us, &sender, &error);
    const uint64_t now = clock_us();
    const bool timed_out = length < 0 && is_receive_timeout(error);
    for (size_t i = 0; i < count; ++i) {
        Transfer *t = transfers[i];
        if (!is_active(*t))
            continue;
        t->now_us = now;
        // A datagram, also one too long, belongs to the transfer of its
        // sender; an error of the sockets layer names none and counts
        // against every wait, as a failed receive always has.
        if (!timed_out && (sender == t->fixture || (length < 0 && sender == 0)))
            take_datagram(t, datagram, length, error, now);
        while (is_active(*t) && deadline_reached(t->deadline_us, now, timed_out))
            reach_deadline(t, socket, file, now);
    }
    return true;
}

void run_transfers(ArtSocket *socket, FILE *file, Transfer *const *transfers, size_t count)
{
    while (step_transfers(socket, file, transfers, count)) {
    }
}
