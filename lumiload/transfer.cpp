#include "transfer.h"

#include <algorithm>
#include <cstring>

#include "netif.h"
#include "receive_window.h"

static const int ATTEMPTS_PER_BLOCK = 3;
static const int SEND_TRIES = 3;
static const uint64_t EMPTYING_US = 1000;
static const uint64_t REPLY_WINDOW_US = 50000;
static const uint64_t PAUSE_AFTER_BLOCK_US = 50000;
static const uint64_t LINK_RETRY_US = 100000;
static const uint64_t LINK_SETTLE_US = 1000000;

// Reply windows of 50 ms before an attempt gives up: the fixture erases
// flash after the first block and writes it after the last one.
static const int FIRST_BLOCK_WAIT_LIMIT = 40;
static const int MIDDLE_BLOCK_WAIT_LIMIT = 1;
static const int LAST_BLOCK_WAIT_LIMIT = 150;

// A fixture that took an image restarts; it is polled once a second until
// it answers, for a minute at most.
static const uint64_t RESTART_POLL_US = 1000000;

// A reply carries no block number. Each send gets at most one reply, and
// replies settle the sends in order: a late reply to an earlier send can
// never count for the block in hand. A send unanswered for this long
// (the first block's whole wait) is taken to have lost its reply.
static const uint64_t REPLY_HORIZON_US = 2000000;

// Room for any datagram a node sends: some pad their ArtFirmwareReply to
// the 1064 bytes of the packet it answers.
static const size_t DATAGRAM_BUFFER_SIZE = 2048;

static bool is_last_block(const Transfer &t) { return t.block + 1 == t.block_count; }

// A middle block waits one window: 50 ms, or, behind a slow link, twice
// the longest round trip seen, up to the first block's whole wait. The
// first and last blocks keep their windows of 50 ms (2 s and 7.5 s in all).
static uint64_t reply_window(const Transfer &t)
{
    if (t.block == 0 || is_last_block(t))
        return REPLY_WINDOW_US;
    return std::max(REPLY_WINDOW_US, std::min(2 * t.longest_round_trip_us, REPLY_HORIZON_US));
}

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
    event.fixture = t.named;
    event.at_us = t.now_us;
    event.block = t.block + 1;
    event.block_count = t.block_count;
    event.attempt = t.attempt + 1;
    if (kind == TransferEventKind::Started)
        event.image = t.mode.image_name;
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
    t->link_check_pending = false;
    t->phase = TransferPhase::Emptying;
    t->deadline_us = from_us + EMPTYING_US;
    t->failed_windows = 0;
}

// Takes the block in hand from the image (its 1024 bytes, or what is left
// for the last block, zero-filled) and builds its packet; the first attempt
// begins at `from_us`. An image shorter than its header says (only a
// caller's mistake: a run checks the length) leaves the block unreadable.
static void begin_block(Transfer *t, uint64_t from_us)
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
    const uint64_t offset = uint64_t(t->block) * FIRMWARE_BLOCK_SIZE;
    if (offset + length > t->image->size()) {
        tell(*t, TransferEventKind::BlockUnreadable);
        finish(t, TransferResult::Failed, from_us);
        return;
    }
    std::memcpy(data, t->image->data() + offset, length);
    tell(*t, TransferEventKind::BlockRead);
    build_firmware_master(t->packet, type, t->block, static_cast<uint32_t>(t->file_words), data);
    t->attempt = 0;
    t->unsent = 0;
    t->took_late_reply = false;
    begin_attempt(t, from_us);
}

static void begin_restart_wait(Transfer *t, uint64_t from_us);

// The transfer failed at `at_us`. With -r and tries left, the next try
// follows once the node's own transfer time-out has run from the last
// block it was sent: a node still holding the failed transfer refuses a
// new one. Otherwise the transfer is over.
static void failed_or_retried(Transfer *t, uint64_t at_us)
{
    if (t->tries > t->mode.retries) {
        finish(t, TransferResult::Failed, at_us);
        return;
    }
    TransferEvent event = event_of(*t, TransferEventKind::RetryWaiting);
    event.attempt = static_cast<int>(t->tries) + 1;
    event.limit = t->mode.retries + 1;
    event.value = static_cast<int>(t->mode.node_timeout_s);
    t->mode.sink(event);
    t->phase = TransferPhase::Resting;
    t->deadline_us = std::max(at_us, t->last_send_us + uint64_t(t->mode.node_timeout_s) * 1000000);
}

// With -c, a last block left unanswered, or refused when sent again, may
// have been taken: its acknowledgement lost, the node restarts and refuses
// what follows. The restart tells. `type` is the refusal's, -1 for none.
static bool last_block_unacknowledged(Transfer *t, int type, uint64_t at_us)
{
    if (!t->mode.confirm || !is_last_block(*t) || (type >= 0 && t->attempt == 0))
        return false;
    tell_value(*t, TransferEventKind::LastBlockUnacknowledged, type);
    t->last_unacknowledged = true;
    begin_restart_wait(t, at_us);
    return true;
}

static void wait_for_link(Transfer *t, uint64_t now_us);

// Every attempt at the block in hand has failed at `at_us`: the transfer
// waits for a link that went down (a cable pulled: its sends do not fail),
// or fails.
static void block_failed(Transfer *t, const ArtSocket &socket, uint64_t at_us)
{
    t->link_check_pending = false;
    const bool send_error = t->unsent == ATTEMPTS_PER_BLOCK;
    if (!send_error && !source_link_carries(socket.source)) {
        wait_for_link(t, at_us);
        return;
    }
    if (!send_error && last_block_unacknowledged(t, -1, at_us))
        return;
    TransferEvent event = event_of(*t, TransferEventKind::BlockUnanswered);
    event.attempt = ATTEMPTS_PER_BLOCK;
    event.send_error = send_error;
    event.retry = t->tries <= t->mode.retries;
    t->mode.sink(event);
    failed_or_retried(t, at_us);
}

// An attempt ended at `at_us`, unsent or without a reply in time; after the
// third the block, and the transfer, has failed, unless the link of the
// socket's interface went down meanwhile: a cable pulled, whose sends do
// not fail.
static void attempt_failed(Transfer *t, const ArtSocket &socket, bool send_error, uint64_t at_us)
{
    ++t->retries;
    t->unsent += send_error;
    TransferEvent event = event_of(*t, TransferEventKind::AttemptFailed);
    event.send_error = send_error;
    t->mode.sink(event);
    // A link just back may not carry yet (a switch port still learning):
    // within the link wait an unanswered attempt costs nothing.
    if (t->link_lost_us && at_us - t->link_lost_us < uint64_t(t->mode.link_wait_s) * 1000000) {
        begin_attempt(t, at_us);
        return;
    }
    if (++t->attempt < ATTEMPTS_PER_BLOCK) {
        begin_attempt(t, at_us);
        return;
    }
    if (send_error || !socket.source) {
        block_failed(t, socket, at_us);
        return;
    }
    // The interface may not have seen its link go yet (a network card
    // takes up to a second): the block waits for one more look, and for
    // a reply meanwhile.
    t->link_check_pending = true;
    t->phase = TransferPhase::Waiting;
    t->deadline_us = at_us + LINK_SETTLE_US;
}

// A send found the network link down at `now_us`: the block in hand is
// sent again every 100 ms, and once the link is back it has all its
// attempts; after the link wait (20 s, well below the node's own 30 s
// time-out) the transfer fails, saying why.
static void wait_for_link(Transfer *t, uint64_t now_us)
{
    if (!t->link_lost_us)
        t->link_lost_us = now_us;
    if (now_us - t->link_lost_us < uint64_t(t->mode.link_wait_s) * 1000000) {
        t->phase = TransferPhase::Sending;
        t->deadline_us = now_us + LINK_RETRY_US;
        return;
    }
    t->link_lost_us = 0;
    TransferEvent event = event_of(*t, TransferEventKind::LinkDown);
    event.value = static_cast<int>(t->mode.link_wait_s);
    event.retry = t->tries <= t->mode.retries;
    t->mode.sink(event);
    failed_or_retried(t, now_us);
}

static void send_block(Transfer *t, ArtSocket *socket, uint64_t now_us)
{
    int error = 0;
    for (int i = 0; i < SEND_TRIES; ++i) {
        if (send_datagram(socket, t->fixture, t->packet, FIRMWARE_MASTER_SIZE, &error)) {
            if (t->link_lost_us && !t->link_back) {  // the link is back
                t->link_back = true;
                t->attempt = t->unsent = 0;
            }
            tell(*t, TransferEventKind::BlockSent);
            t->last_send_us = now_us;
            t->unanswered.push_back({now_us, t->block});
            t->phase = TransferPhase::Waiting;
            t->deadline_us = now_us + reply_window(*t);
            return;
        }
        if (t->link_lost_us && !t->link_back)
            break;  // told when the link went
        tell_value(*t, TransferEventKind::SendFailed, error);
    }
    if (socket->link_down) {
        t->link_back = false;
        wait_for_link(t, now_us);
    }
    else
        attempt_failed(t, *socket, true, now_us);
}

// A receive window ended without a reply; the next one starts at `next_us`.
static void window_failed(Transfer *t, const ArtSocket &socket, uint64_t next_us)
{
    if (t->link_check_pending)
        block_failed(t, socket, next_us);
    else if (++t->failed_windows < wait_limit(*t))
        t->deadline_us = next_us + reply_window(*t);
    else
        attempt_failed(t, socket, false, next_us);
}

// The fixture's reply to the block in hand: a good one lets the next block
// follow after the pause; any other answer is final.
static void judge_reply(Transfer *t, uint8_t type, uint64_t now_us)
{
    t->link_lost_us = 0;  // the network carries again
    t->link_back = false;
    if (type != FIRM_BLOCK_GOOD && !(type == FIRM_ALL_GOOD && is_last_block(*t))) {
        if (last_block_unacknowledged(t, type, now_us))
            return;
        TransferEvent event = event_of(*t, TransferEventKind::BlockRejected);
        event.value = type;
        event.retry = t->tries <= t->mode.retries;
        t->mode.sink(event);
        failed_or_retried(t, now_us);
        return;
    }
    tell_value(*t, TransferEventKind::BlockAccepted, type);
    // A block answered after one of its replies was taken for an earlier
    // send owes nothing more: a send left unanswered now lost its reply.
    // Kept, it would take the next block's first reply, and the next's.
    if (t->took_late_reply)
        t->unanswered.clear();
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

// What a fixture that failed says of itself, when it says anything.
static void tell_node_word(Transfer *t, const PollReply &answer)
{
    t->node_word = node_explanation(answer);
    if (t->node_word.empty())
        return;
    TransferEvent event = event_of(*t, TransferEventKind::NodeSays);
    event.text = t->node_word.c_str();
    t->mode.sink(event);
}

// -r: the fixture answers again after its failure; the transfer begins
// again from its first block.
static void begin_next_try(Transfer *t, const PollReply &reply, uint64_t now_us)
{
    tell_node_word(t, reply);
    ++t->tries;
    TransferEvent event = event_of(*t, TransferEventKind::Retrying);
    event.attempt = static_cast<int>(t->tries);
    event.limit = t->mode.retries + 1;
    t->mode.sink(event);
    t->block = 0;
    t->now_us = now_us;
    TransferEvent started = event_of(*t, TransferEventKind::Started);
    t->mode.sink(started);
    begin_block(t, now_us);
}

// The first answer after the restart decides: the image's version, or the
// firmware the fixture fell back to.
static void judge_restart(Transfer *t, const PollReply &answer, uint64_t now_us)
{
    t->version_reported = true;
    t->reported_version = answer.version;
    const bool confirmed = t->reported_version == t->image_version;
    if (!confirmed)
        tell_node_word(t, answer);
    else if (t->last_unacknowledged)
        tell(*t, TransferEventKind::LastAckLost);
    TransferEvent event = event_of(*t, confirmed ? TransferEventKind::Confirmed : TransferEventKind::WrongVersion);
    event.version = t->reported_version;
    event.expected = t->image_version;
    t->mode.sink(event);
    finish(t, confirmed ? TransferResult::Confirmed : TransferResult::Failed, now_us);
}

// An ArtFirmwareReply from the fixture settles the oldest send still
// unanswered (sends older than the horizon are taken to have lost theirs).
// True when that send was of an earlier block, or the reply comes outside
// a reply window: a late reply, dropped, counting for nothing. A reply to
// any attempt at the block in hand answers it. FirmAllGood answers only a
// last block, so while the last block is in hand it is never late.
static bool settles_earlier_send(Transfer *t, uint8_t type, uint64_t now_us)
{
    auto &sends = t->unanswered;
    while (sends.size() > 1 && now_us - sends.front().at_us > REPLY_HORIZON_US)
        sends.erase(sends.begin());
    const bool waiting = t->phase == TransferPhase::Waiting;
    if (waiting && type == FIRM_ALL_GOOD && is_last_block(*t)) {
        sends.clear();
        return false;
    }
    if (sends.empty())
        return true;  // nothing sent waits for it: a duplicate
    const bool earlier_block = sends.front().block != t->block;
    sends.erase(sends.begin());
    if (waiting && earlier_block)
        t->took_late_reply = true;
    if (waiting && !earlier_block)
        t->longest_round_trip_us = std::max(t->longest_round_trip_us, now_us - t->last_send_us);
    return earlier_block || !waiting;
}

// A datagram from the transfer's fixture, or a failed receive (`length` <
// 0: too long, or an error of the sockets layer). A reply window takes an
// ArtFirmwareReply, the restart wait an ArtPollReply; in the other phases
// it is a stale reply and is discarded.
static void take_datagram(Transfer *t, const ArtSocket &socket, const uint8_t *data, long length, int error,
                          uint64_t now_us)
{
    const bool polled = t->phase == TransferPhase::Restarting || t->phase == TransferPhase::Recalling;
    static const uint8_t unknown[6] = {};
    const bool known = std::memcmp(t->identity.mac, unknown, 6) != 0;
    if (polled && length >= 0 && is_poll_reply(data, static_cast<size_t>(length))) {
        // Another device at its address confirms nothing.
        if (known && !same_mac(data, t->identity.mac))
            return;
        // Found by its MAC at a new address (its DHCP lease changed).
        const uint32_t address = reply_ip_address(data);
        if (address != t->fixture) {
            t->fixture = t->moved_to = address;
            TransferEvent event = event_of(*t, TransferEventKind::FoundByMac);
            event.moved_to = address;
            t->mode.sink(event);
        }
        const PollReply reply = decode_poll_reply(data, static_cast<size_t>(length));
        if (t->phase == TransferPhase::Restarting)
            judge_restart(t, reply, now_us);
        else
            begin_next_try(t, reply, now_us);
        return;
    }
    // A longer datagram whose first 36 bytes are a good reply is that reply:
    // some nodes pad every reply to the size of the packet they answer.
    if (length > static_cast<long>(FIRMWARE_REPLY_SIZE) &&
        check_firmware_reply(data, FIRMWARE_REPLY_SIZE) == FirmwareReplyCheck::Accepted)
        length = static_cast<long>(FIRMWARE_REPLY_SIZE);
    const FirmwareReplyCheck check =
        length >= 0 ? check_firmware_reply(data, static_cast<size_t>(length)) : FirmwareReplyCheck::NotAReply;
    // Any ArtFirmwareReply, also one of another protocol version, answers a send.
    const uint8_t type = check != FirmwareReplyCheck::NotAReply ? data[FIRMWARE_REPLY_TYPE_OFFSET] : 0;
    const bool late = check != FirmwareReplyCheck::NotAReply && settles_earlier_send(t, type, now_us);
    // A refusal is never late: whichever send it answers, the node gave up
    // the upload (FirmFail), and a FirmBlockGood still to come for the block
    // in hand would be a straggler's.
    const bool refusal = check == FirmwareReplyCheck::Accepted && type != FIRM_BLOCK_GOOD && type != FIRM_ALL_GOOD;
    const bool in_hand = t->phase == TransferPhase::Waiting || (refusal && t->phase == TransferPhase::Pausing);
    if ((late && !refusal) || !in_hand)
        return;
    // Its ArtPollReply to another controller's poll is no reply to a block.
    if (length >= 0 && is_poll_reply(data, static_cast<size_t>(length)))
        return;
    if (length > static_cast<long>(FIRMWARE_REPLY_SIZE)) {
        length = -1;  // as if it had been received into a buffer of the reply's size
        error = datagram_too_long_error();
    }
    if (length < 0) {
        tell_value(*t, TransferEventKind::ReceiveError, error);
        window_failed(t, socket, now_us);
        return;
    }
    switch (check) {
    case FirmwareReplyCheck::Accepted:
        judge_reply(t, type, now_us);
        break;
    case FirmwareReplyCheck::BadProtocol:
        tell(*t, TransferEventKind::BadProtocol);
        break;
    case FirmwareReplyCheck::NotAReply:
        break;
    }
}

// One more poll of a restarting fixture (or one to be tried again), or
// the end of the wait. A fixture whose address came from DHCP may come
// back at another: it is polled at the broadcast address too.
static void poll_restarting(Transfer *t, ArtSocket *socket)
{
    const uint64_t since = t->phase == TransferPhase::Restarting ? t->restart_us : t->recall_us;
    if (t->deadline_us - since >= uint64_t(t->mode.restart_limit_s) * 1000000) {
        const bool restarting = t->phase == TransferPhase::Restarting;
        tell_value(*t, restarting ? TransferEventKind::NoAnswer : TransferEventKind::RetryNoAnswer,
                   static_cast<int>(t->mode.restart_limit_s));
        finish(t, TransferResult::Failed, t->deadline_us);
        return;
    }
    uint8_t poll[ART_POLL_SIZE];
    build_art_poll(poll);
    int error = 0;
    if (!send_datagram(socket, t->fixture, poll, sizeof poll, &error))
        tell_value(*t, TransferEventKind::SendFailed, error);
    if (t->identity.dhcp && t->mode.broadcast && !send_datagram(socket, t->mode.broadcast, poll, sizeof poll, &error))
        tell_value(*t, TransferEventKind::SendFailed, error);
    t->deadline_us += RESTART_POLL_US;
}

// The phase's deadline has come. Phases that follow one another without a
// wait start from the deadline, so the timing does not drift.
static void reach_deadline(Transfer *t, ArtSocket *socket, uint64_t now_us)
{
    switch (t->phase) {
    case TransferPhase::Emptying:
        t->phase = TransferPhase::Sending;
        break;
    case TransferPhase::Sending:
        send_block(t, socket, now_us);
        break;
    case TransferPhase::Waiting:
        window_failed(t, *socket, t->deadline_us);
        break;
    case TransferPhase::Pausing:
        if (++t->block < t->block_count) {
            begin_block(t, t->deadline_us);
            break;
        }
        tell(*t, TransferEventKind::Uploaded);
        if (t->mode.confirm)
            begin_restart_wait(t, t->deadline_us);
        else
            finish(t, TransferResult::Uploaded, t->deadline_us);
        break;
    case TransferPhase::Resting:
        t->phase = TransferPhase::Recalling;
        t->recall_us = t->deadline_us;
        poll_restarting(t, socket);
        break;
    case TransferPhase::Restarting:
    case TransferPhase::Recalling:
        poll_restarting(t, socket);
        break;
    case TransferPhase::Idle:
    case TransferPhase::Done:
        break;
    }
}

void start_transfer(Transfer *t, const std::vector<uint8_t> &image, const AlfHeader &header, uint32_t fixture, uint64_t now_us,
                    const TransferMode &mode, const FixtureIdentity &identity)
{
    *t = Transfer();
    t->fixture = t->named = fixture;
    t->mode = mode;
    t->identity = identity;
    t->image = &image;
    t->image_version = header.version;
    t->file_words = static_cast<uint64_t>(header.data_length) + ALF_HEADER_WORDS;
    t->block_count = alf_block_count(header.data_length);
    t->started_us = now_us;
    t->now_us = now_us;
    tell(*t, TransferEventKind::Started);
    begin_block(t, now_us);
}

bool transfer_in_flight(const Transfer &t)
{
    switch (t.phase) {
    case TransferPhase::Emptying:
    case TransferPhase::Sending:
    case TransferPhase::Waiting:
    case TransferPhase::Pausing:
        return true;
    default:
        return false;
    }
}

bool transfer_succeeded(const Transfer &t)
{
    return t.result == (t.mode.confirm ? TransferResult::Confirmed : TransferResult::Uploaded);
}

// A poll reply from another address that carries the MAC of a fixture
// being polled: the fixture, moved.
static bool known_elsewhere(const Transfer &t, const uint8_t *datagram, long length)
{
    static const uint8_t unknown[6] = {};
    return (t.phase == TransferPhase::Restarting || t.phase == TransferPhase::Recalling) && length >= 0 &&
           is_poll_reply(datagram, static_cast<size_t>(length)) && std::memcmp(t.identity.mac, unknown, 6) != 0 &&
           same_mac(datagram, t.identity.mac);
}

static bool is_active(const Transfer &t) { return t.phase != TransferPhase::Idle && t.phase != TransferPhase::Done; }

bool step_transfers(ArtSocket *socket, Transfer *const *transfers, size_t count)
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
    uint8_t datagram[DATAGRAM_BUFFER_SIZE];
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
        if (!timed_out && (sender == t->fixture || (length < 0 && sender == 0) || known_elsewhere(*t, datagram, length)))
            take_datagram(t, *socket, datagram, length, error, now);
        while (is_active(*t) && deadline_reached(t->deadline_us, now, timed_out))
            reach_deadline(t, socket, now);
    }
    return true;
}

void run_transfers(ArtSocket *socket, Transfer *const *transfers, size_t count)
{
    while (step_transfers(socket, transfers, count)) {
    }
}
