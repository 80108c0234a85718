#include "transfer.h"

#include <cstring>

#include "receive_window.h"
#include "report.h"

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
// it for the last block, zero-filled), prints its mark and builds its
// packet; the first attempt begins at `from_us`.
static void begin_block(Transfer *t, FILE *file, uint64_t from_us)
{
    uint8_t type = FIRM_CONT;
    char mark = '-';
    size_t length = FIRMWARE_BLOCK_SIZE;
    if (t->block == 0) {
        type = FIRM_FIRST;
        mark = 'F';
    }
    if (is_last_block(*t)) {
        type = FIRM_LAST;
        mark = 'L';
        const uint64_t tail_words = t->file_words % (FIRMWARE_BLOCK_SIZE / 2);
        if (tail_words != 0)
            length = static_cast<size_t>(tail_words * 2);
    }
    uint8_t data[FIRMWARE_BLOCK_SIZE] = {};
    // A long offset: images of 2 GiB and more cannot be read where long has
    // 32 bits (Windows), and no fixture takes such an image.
    const long offset = static_cast<long>(t->block) * static_cast<long>(FIRMWARE_BLOCK_SIZE);
    if (std::fseek(file, offset, SEEK_SET) != 0 || std::fread(data, length, 1, file) != 1) {
        if (t->mode.events) {
            report_block_unreadable(t->fixture, t->block + 1, t->block_count);
        } else {
            report_block_read_failed();
            report_line_end();
        }
        finish(t, TransferResult::Failed, from_us);
        return;
    }
    if (!t->mode.events)
        report_progress_mark(mark);
    build_firmware_master(t->packet, type, t->block, static_cast<uint32_t>(t->file_words), data);
    t->attempt = 0;
    t->unsent = 0;
    begin_attempt(t, from_us);
}

// An attempt ended with `mark` ("!" could not send, "T" no reply) at
// `at_us`; after the third the block, and the transfer, has failed.
static void attempt_failed(Transfer *t, char mark, uint64_t at_us)
{
    ++t->retries;
    t->unsent += mark == '!';
    if (t->mode.events)
        report_attempt_failed(t->fixture, t->block + 1, t->block_count, t->attempt + 1, mark);
    else
        report_progress_mark(mark);
    if (++t->attempt < ATTEMPTS_PER_BLOCK) {
        begin_attempt(t, at_us);
        return;
    }
    if (t->mode.events) {
        report_block_unanswered(t->fixture, t->block + 1, t->block_count, ATTEMPTS_PER_BLOCK,
                                t->unsent == ATTEMPTS_PER_BLOCK);
    } else {
        report_line_end();
        report_line_end();
    }
    finish(t, TransferResult::Failed, at_us);
}

static void send_block(Transfer *t, ArtSocket *socket, uint64_t now_us)
{
    for (int i = 0; i < SEND_TRIES; ++i) {
        int error = 0;
        if (send_datagram(socket, t->fixture, t->packet, FIRMWARE_MASTER_SIZE, &error)) {
            t->phase = TransferPhase::Waiting;
            t->deadline_us = now_us + REPLY_WINDOW_US;
            return;
        }
        if (t->mode.events)
            report_fixture_send_failed(t->fixture, error);
        else
            report_send_failed(error);
    }
    attempt_failed(t, '!', now_us);
}

// A receive window ended without a reply; the next one starts at `next_us`.
static void window_failed(Transfer *t, uint64_t next_us)
{
    if (++t->failed_windows < wait_limit(*t))
        t->deadline_us = next_us + REPLY_WINDOW_US;
    else
        attempt_failed(t, 'T', next_us);
}

// The fixture's reply to the block in hand: a good one lets the next block
// follow after the pause; any other answer is final.
static void judge_reply(Transfer *t, uint8_t type, uint64_t now_us)
{
    const bool good = type == FIRM_BLOCK_GOOD || (type == FIRM_ALL_GOOD && is_last_block(*t));
    if (t->mode.events && good) {
        report_block_accepted(t->fixture, t->block + 1, t->block_count);
    } else if (t->mode.events) {
        report_block_rejected(t->fixture, t->block + 1, t->block_count, type);
    } else if (good) {
        report_progress_mark(type == FIRM_BLOCK_GOOD ? ' ' : 'G');
    } else {
        report_progress_mark('B');
        report_line_end();
        report_unexpected_reply_type(type);
        report_line_end();
    }
    if (!good) {
        finish(t, TransferResult::Failed, now_us);
        return;
    }
    t->phase = TransferPhase::Pausing;
    t->deadline_us = now_us + PAUSE_AFTER_BLOCK_US;
}

static void begin_restart_wait(Transfer *t, uint64_t from_us)
{
    report_restart_wait(t->fixture, t->mode.events);
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
    if (t->reported_version == t->image_version) {
        report_confirmed(t->fixture, t->reported_version, t->mode.events);
        finish(t, TransferResult::Confirmed, now_us);
    } else {
        report_came_back_with(t->fixture, t->reported_version, t->image_version, t->mode.events);
        finish(t, TransferResult::Failed, now_us);
    }
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
        if (t->mode.events)
            report_fixture_receive_error(t->fixture, error);
        else
            report_receive_error(error);
        window_failed(t, now_us);
        return;
    }
    switch (check_firmware_reply(data, static_cast<size_t>(length))) {
    case FirmwareReplyCheck::Accepted:
        judge_reply(t, data[FIRMWARE_REPLY_TYPE_OFFSET], now_us);
        break;
    case FirmwareReplyCheck::BadProtocol:
        if (t->mode.events)
            report_fixture_bad_protocol_version(t->fixture);
        else
            report_bad_protocol_version();
        break;
    case FirmwareReplyCheck::NotAReply:
        break;
    }
}

// One more poll of a restarting fixture, or the end of the wait.
static void poll_restarting(Transfer *t, ArtSocket *socket)
{
    if (t->deadline_us - t->restart_us >= uint64_t(t->mode.restart_limit_s) * 1000000) {
        report_no_answer_after_upload(t->fixture, t->mode.restart_limit_s, t->mode.events);
        finish(t, TransferResult::Failed, t->deadline_us);
        return;
    }
    uint8_t poll[ART_POLL_SIZE];
    build_art_poll(poll);
    int error = 0;
    if (!send_datagram(socket, t->fixture, poll, sizeof poll, &error)) {
        if (t->mode.events)
            report_fixture_send_failed(t->fixture, error);
        else
            report_send_failed(error);
    }
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
        if (t->mode.events)
            report_uploaded(t->fixture);
        else
            report_line_end();
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
                    TransferMode mode)
{
    *t = Transfer();
    t->fixture = fixture;
    t->mode = mode;
    t->image_version = header.version;
    t->file_words = static_cast<uint64_t>(header.data_length) + ALF_HEADER_WORDS;
    t->block_count = alf_block_count(header.data_length);
    t->started_us = now_us;
    if (mode.events)
        report_transfer_started(fixture, t->block_count);
    begin_block(t, file, now_us);
}

void start_confirmation(Transfer *t, uint32_t fixture, uint16_t version, uint64_t now_us, TransferMode mode)
{
    *t = Transfer();
    t->fixture = fixture;
    t->mode = mode;
    t->mode.confirm = true;
    t->image_version = version;
    t->started_us = now_us;
    begin_restart_wait(t, now_us);
}

bool transfer_in_flight(const Transfer &t)
{
    return t.phase != TransferPhase::Idle && t.phase != TransferPhase::Restarting && t.phase != TransferPhase::Done;
}

static bool is_active(const Transfer &t) { return t.phase != TransferPhase::Idle && t.phase != TransferPhase::Done; }

bool step_transfers(ArtSocket *socket, FILE *file, Transfer *transfers, size_t count)
{
    const Transfer *first = nullptr;  // the earliest deadline
    for (size_t i = 0; i < count; ++i) {
        if (is_active(transfers[i]) && (!first || transfers[i].deadline_us < first->deadline_us))
            first = &transfers[i];
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
        Transfer *t = &transfers[i];
        if (!is_active(*t))
            continue;
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

void run_transfers(ArtSocket *socket, FILE *file, Transfer *transfers, size_t count)
{
    while (step_transfers(socket, file, transfers, count)) {
    }
}
