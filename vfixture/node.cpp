#include "node.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>

#include "alf_format.h"
#include "artnet_layout.h"
#include "maker_code.h"

// Fields of the packets the fixture reads or writes that lumiload itself
// neither sends nor reads.
constexpr size_t POLL_PROT_VER_HI_OFFSET = 10;
constexpr size_t POLL_PROT_VER_LO_OFFSET = 11;
constexpr size_t POLL_MIN_SIZE = 12;              // ID, OpCode, ProtVer
constexpr size_t REPLY_PORT_OFFSET = 14;          // 2 bytes, low byte first
constexpr size_t REPLY_NUM_PORTS_LO_OFFSET = 173;
constexpr size_t REPLY_FULL_SIZE = 239;
constexpr size_t MASTER_PROT_VER_HI_OFFSET = 10;
constexpr size_t MASTER_PROT_VER_LO_OFFSET = 11;
constexpr size_t FIRMWARE_REPLY_PROT_VER_LO_OFFSET = 11;
constexpr uint32_t WORDS_PER_BLOCK = FIRMWARE_BLOCK_SIZE / 2;

static uint16_t opcode_of(const uint8_t *data)
{
    return static_cast<uint16_t>(data[OPCODE_OFFSET] | data[OPCODE_OFFSET + 1] << 8);
}

static void put_opcode(uint8_t *data, uint16_t opcode)
{
    std::memcpy(data, ARTNET_ID, sizeof ARTNET_ID);
    data[OPCODE_OFFSET] = opcode & 0xFF;
    data[OPCODE_OFFSET + 1] = opcode >> 8;
}

static std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));
static std::string format(const char *pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

FixtureState make_fixture_state(const FixtureConfig &config)
{
    FixtureState state;
    state.config = config;
    state.version_hi = config.version_hi;
    state.version_lo = config.version_lo;
    return state;
}

PacketKind classify_packet(const uint8_t *data, size_t length)
{
    if (length < OPCODE_OFFSET + 2 || std::memcmp(data, ARTNET_ID, sizeof ARTNET_ID) != 0)
        return PacketKind::NotArtNet;
    switch (opcode_of(data)) {
    case OP_POLL:
        return PacketKind::Poll;
    case OP_FIRMWARE_MASTER:
        return PacketKind::FirmwareMaster;
    case OP_ADDRESS:
        return PacketKind::Address;
    default:
        return PacketKind::OtherArtNet;
    }
}

std::vector<uint8_t> build_poll_reply(const FixtureState &state)
{
    const FixtureConfig &config = state.config;
    // Built at full size, then cut or zero-extended to the configured length.
    std::vector<uint8_t> reply(std::max<size_t>(REPLY_FULL_SIZE, config.reply_length), 0);
    put_opcode(reply.data(), OP_POLL_REPLY);
    const uint32_t ip = state.moved ? config.new_ip : config.ip_field;
    for (int i = 0; i < 4; ++i)
        reply[REPLY_IP_OFFSET + i] = static_cast<uint8_t>(ip >> (24 - 8 * i));
    reply[REPLY_PORT_OFFSET] = ARTNET_PORT & 0xFF;
    reply[REPLY_PORT_OFFSET + 1] = ARTNET_PORT >> 8;
    reply[REPLY_VERS_HI_OFFSET] = state.version_hi;
    reply[REPLY_VERS_LO_OFFSET] = state.version_lo;
    reply[REPLY_OEM_HI_OFFSET] = config.oem >> 8;
    reply[REPLY_OEM_LO_OFFSET] = config.oem & 0xFF;
    reply[REPLY_ESTA_LO_OFFSET] = config.esta & 0xFF;
    reply[REPLY_ESTA_HI_OFFSET] = config.esta >> 8;
    // Names are copied as raw bytes and may fill their field without a
    // terminating zero, as some nodes do.
    std::memcpy(&reply[REPLY_SHORT_NAME_OFFSET], config.short_name.data(),
                std::min(config.short_name.size(), REPLY_SHORT_NAME_SIZE));
    std::memcpy(&reply[REPLY_LONG_NAME_OFFSET], config.long_name.data(),
                std::min(config.long_name.size(), REPLY_LONG_NAME_SIZE));
    const std::string &report =
        state.reverted && !config.revert_report.empty() ? config.revert_report : config.node_report;
    std::memcpy(&reply[REPLY_NODE_REPORT_OFFSET], report.data(), std::min(report.size(), REPLY_NODE_REPORT_SIZE));
    reply[REPLY_NUM_PORTS_LO_OFFSET] = config.ports > 1 ? 1 : 0;
    std::memcpy(&reply[REPLY_MAC_OFFSET], config.mac, 6);
    reply[REPLY_STATUS1_OFFSET] = state.reverted && config.revert_rom ? STATUS1_BOOTED_FROM_ROM : 0;
    reply[REPLY_BIND_INDEX_OFFSET] = config.ports > 1 ? 1 : 0;
    reply[REPLY_STATUS2_OFFSET] = 0x08 | (config.dhcp ? STATUS2_DHCP_CONFIGURED | STATUS2_DHCP_CAPABLE : 0);
    reply.resize(config.reply_length);
    return reply;
}

std::vector<uint8_t> build_firmware_reply(uint8_t type, uint8_t protocol_lo, size_t size)
{
    std::vector<uint8_t> reply(std::max(size, FIRMWARE_REPLY_SIZE), 0);
    put_opcode(reply.data(), OP_FIRMWARE_REPLY);
    reply[FIRMWARE_REPLY_PROT_VER_LO_OFFSET - 1] = PROTOCOL_VERSION_HI;
    reply[FIRMWARE_REPLY_PROT_VER_LO_OFFSET] = protocol_lo;
    reply[FIRMWARE_REPLY_TYPE_OFFSET] = type;
    return reply;
}

// While a fixture restarts it hears nothing at all.
static bool restarting(const FixtureState &state, uint64_t now_ms)
{
    return state.gone || now_ms < state.silent_until_ms;
}

Outcome handle_poll(FixtureState *state, const uint8_t *data, size_t length, uint32_t sender, uint64_t now_ms)
{
    Outcome outcome;
    const FixtureConfig &config = state->config;
    std::string from = format_address(sender);
    if (restarting(*state, now_ms)) {
        outcome.events.push_back("poll from " + from + " unanswered: restarting");
        return outcome;
    }
    if (length < POLL_MIN_SIZE) {
        outcome.events.push_back(format("error poll from %s: length %zu, too short", from.c_str(), length));
        return outcome;
    }
    if (length != ART_POLL_SIZE)
        outcome.events.push_back(
            format("error poll from %s: length %zu, expected %zu", from.c_str(), length, ART_POLL_SIZE));
    if (data[POLL_PROT_VER_HI_OFFSET] != PROTOCOL_VERSION_HI ||
        data[POLL_PROT_VER_LO_OFFSET] < PROTOCOL_VERSION_LO)
        outcome.events.push_back(format("error poll from %s: protocol version %d.%d", from.c_str(),
                                        data[POLL_PROT_VER_HI_OFFSET], data[POLL_PROT_VER_LO_OFFSET]));

    outcome.reply = true;
    outcome.packet = build_poll_reply(*state);
    // A node with several ports answers once per port, the same but for
    // BindIndex (and the port fields this fixture leaves empty).
    for (uint32_t port = 2; port <= config.ports && outcome.packet.size() > REPLY_BIND_INDEX_OFFSET; ++port) {
        outcome.more_packets.push_back(outcome.packet);
        outcome.more_packets.back()[REPLY_BIND_INDEX_OFFSET] = static_cast<uint8_t>(port);
    }
    outcome.from_alt = config.poll_reply_from_alt;
    outcome.delay_ms = config.poll_delay_ms;
    if (config.reply == ReplyMode::Broadcast)
        outcome.destination = config.broadcast ? config.broadcast : (config.bind | 0x00FFFFFF);
    else
        outcome.destination = sender;
    std::string line = format("poll from %s -> replied %zu bytes to %s", from.c_str(), outcome.packet.size(),
                              format_address(outcome.destination).c_str());
    if (config.ports > 1)
        line += format(" (%u ports)", config.ports);
    if (outcome.from_alt)
        line += " from " + format_address(config.alt);
    if (outcome.delay_ms)
        line += format(" after %u ms", outcome.delay_ms);
    outcome.events.push_back(line);
    return outcome;
}

Outcome handle_address(FixtureState *state, const uint8_t *data, size_t length, uint32_t sender, uint64_t now_ms)
{
    const std::string from = format_address(sender);
    if (restarting(*state, now_ms)) {
        Outcome outcome;
        outcome.events.push_back("address from " + from + " unanswered: restarting");
        return outcome;
    }
    std::vector<std::string> errors;
    if (length < ART_ADDRESS_SIZE) {
        errors.push_back(format("length %zu, expected %zu", length, ART_ADDRESS_SIZE));
    } else {
        // A controller that only finds fixtures changes none of their settings.
        bool changes = data[ADDRESS_NET_SWITCH_OFFSET] != ADDRESS_NO_CHANGE || data[ADDRESS_SHORT_NAME_OFFSET] != 0 ||
                       data[ADDRESS_LONG_NAME_OFFSET] != 0 || data[ADDRESS_SUB_SWITCH_OFFSET] != ADDRESS_NO_CHANGE ||
                       data[ADDRESS_ACN_PRIORITY_OFFSET] != ADDRESS_PRIORITY_NO_CHANGE;
        for (size_t i = 0; i < 4; ++i)
            changes = changes || data[ADDRESS_SW_IN_OFFSET + i] != ADDRESS_NO_CHANGE ||
                      data[ADDRESS_SW_OUT_OFFSET + i] != ADDRESS_NO_CHANGE;
        if (changes)
            errors.push_back("it would change the node's settings");
        const uint8_t command = data[ADDRESS_COMMAND_OFFSET];
        if (command == AC_LED_LOCATE || command == AC_LED_NORMAL)
            state->locating = command == AC_LED_LOCATE;
        else
            errors.push_back(format("command %d", command));
    }
    Outcome outcome = handle_poll(state, data, ART_POLL_SIZE, sender, now_ms);  // answered as a poll is
    outcome.events.clear();
    for (const std::string &error : errors)
        outcome.events.push_back("error address from " + from + ": " + error);
    outcome.events.push_back(format("address from %s: locate %s -> replied %zu bytes", from.c_str(),
                                    state->locating ? "on" : "off", outcome.packet.size()));
    return outcome;
}

static uint8_t expected_type(uint32_t index, uint32_t block_count)
{
    if (index == 0)
        return FIRM_FIRST;
    return index + 1 == block_count ? FIRM_LAST : FIRM_CONT;
}

static uint32_t read_be32(const uint8_t *data)
{
    return static_cast<uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
}

// Ends the session with a FirmFail reply and the error line; with busy=,
// the fixture refuses firmware packets for a while.
static void fail_upload(FixtureState *state, Outcome *outcome, uint64_t now_ms, const std::string &what)
{
    outcome->events.push_back(what + " -> reply type=255");
    outcome->reply = true;
    outcome->packet = build_firmware_reply(FIRM_FAIL, PROTOCOL_VERSION_LO, state->config.pad_replies);
    state->upload = UploadSession();
    state->busy_until_ms = now_ms + state->config.busy_ms;
}

static void start_session(UploadSession *session, uint32_t words)
{
    *session = UploadSession();
    session->active = true;
    session->firmware_words = words;
    session->block_count = (words + WORDS_PER_BLOCK - 1) / WORDS_PER_BLOCK;
    session->data.assign(static_cast<size_t>(session->block_count) * FIRMWARE_BLOCK_SIZE, 0);
    session->arrivals.assign(session->block_count, 0);
}

// The restart after a completed upload: its reboot time, and the reboot
// faults that apply to this restart.
static void restart(FixtureState *state, Outcome *outcome, uint64_t now_ms)
{
    FaultRule::Action action = FaultRule::Action::Drop;  // none: back with the new version
    ++state->restarts;
    for (const FaultRule &rule : state->config.faults) {
        if (rule.select == FaultRule::Select::Reboot && (rule.count == 0 || state->restarts <= rule.count))
            action = rule.action;
    }
    state->gone = action == FaultRule::Action::Never;
    state->reverted = action == FaultRule::Action::Old;
    state->moved = state->config.new_ip != 0;
    state->silent_until_ms = now_ms + state->config.reboot_ms;
    if (action != FaultRule::Action::Old) {
        state->version_hi = outcome->image[ALF_VERSION_OFFSET];
        state->version_lo = outcome->image[ALF_VERSION_OFFSET + 1];
    }
    if (state->gone)
        outcome->events.push_back("restart: never answers again (fault)");
    else if (state->config.reboot_ms || action == FaultRule::Action::Old || state->moved)
        outcome->events.push_back(format("restart: silent for %u ms, then version=", state->config.reboot_ms) +
                                  format_version(state->version_hi, state->version_lo) +
                                  (action == FaultRule::Action::Old ? " (fault: the old one)" : "") +
                                  (state->moved ? " at " + format_address(state->config.new_ip) : ""));
}

Outcome handle_firmware_master(FixtureState *state, const uint8_t *data, size_t length, uint32_t sender,
                               uint64_t now_ms)
{
    Outcome outcome;
    outcome.destination = sender;
    UploadSession &session = state->upload;
    const std::string from = format_address(sender);
    if (restarting(*state, now_ms)) {
        outcome.events.push_back("firmware packet from " + from + " unanswered: restarting");
        return outcome;
    }

    if (length != FIRMWARE_MASTER_SIZE) {
        outcome.events.push_back(format("error firmware packet from %s: length %zu, expected %zu",
                                        from.c_str(), length, FIRMWARE_MASTER_SIZE));
        return outcome;
    }
    if (data[MASTER_PROT_VER_HI_OFFSET] != PROTOCOL_VERSION_HI ||
        data[MASTER_PROT_VER_LO_OFFSET] < PROTOCOL_VERSION_LO) {
        outcome.events.push_back(format("error firmware packet from %s: protocol version %d.%d", from.c_str(),
                                        data[MASTER_PROT_VER_HI_OFFSET], data[MASTER_PROT_VER_LO_OFFSET]));
        return outcome;
    }
    const uint8_t type = data[FIRMWARE_TYPE_OFFSET];
    const uint8_t id = data[FIRMWARE_BLOCK_ID_OFFSET];
    const uint32_t words = read_be32(data + FIRMWARE_LENGTH_OFFSET);
    const uint8_t *block = data + FIRMWARE_DATA_OFFSET;
    if (now_ms < state->busy_until_ms) {
        const uint64_t until = state->busy_until_ms;  // refusing does not make it longer
        fail_upload(state, &outcome, now_ms, format("refused Type %d BlockId %d: busy after a failed upload", type, id));
        state->busy_until_ms = until;
        return outcome;
    }
    if (state->config.strict && session.active &&
        ((session.complete && type != FIRM_FIRST) || (!session.complete && type == FIRM_FIRST && session.next_index == 1))) {
        fail_upload(state, &outcome, now_ms, format("refused Type %d BlockId %d: %s", type, id,
                                                    session.complete ? "the upload is over" : "the first block again"));
        return outcome;
    }

    // A FirmFirst packet starts a new upload unless it repeats the first
    // block of the upload in progress (its reply was lost or late).
    if (type == FIRM_FIRST && id == 0 && (!session.active || session.complete || session.next_index > 1)) {
        if (session.active && !session.complete && session.next_index > 1)
            outcome.events.push_back(format("upload restarted after %u of %u blocks", session.next_index,
                                            session.block_count));
        if (words <= WORDS_PER_BLOCK) {
            fail_upload(state, &outcome, now_ms, format("error block 0: FirmwareLength %u, less than two blocks", words));
            return outcome;
        }
        start_session(&session, words);
        ++state->uploads;
    } else if (!session.active) {
        fail_upload(state, &outcome, now_ms,
                    format("error: Type %d BlockId %d without an upload in progress", type, id));
        return outcome;
    }

    uint32_t index = session.next_index;
    bool duplicate = false;
    if (session.next_index > 0 && id == session.last_id && type == session.last_type) {
        duplicate = true;
        index = session.next_index - 1;
    }
    const std::string head =
        format("block %u type=%d id=%d len=%u", index, type, id, words);

    const bool lax = state->config.lax;
    if (!duplicate && lax) {
        // No BlockId check: a FirmCont goes to the next position while one is
        // left before the last, and a FirmLast ends the upload where it comes.
        if (index == 0 ? type != FIRM_FIRST
                       : type != FIRM_LAST && (type != FIRM_CONT || index + 1 >= session.block_count)) {
            fail_upload(state, &outcome, now_ms, format("error block %u: Type %d out of place", index, type));
            return outcome;
        }
    } else if (!duplicate) {
        if (id != (index & 0xFF)) {
            fail_upload(state, &outcome, now_ms, format("error block %u: BlockId %d expected %u", index, id, index & 0xFF));
            return outcome;
        }
        if (type != expected_type(index, session.block_count)) {
            fail_upload(state, &outcome, now_ms, format("error block %u: Type %d expected %d", index, type,
                                                expected_type(index, session.block_count)));
            return outcome;
        }
    }
    if (words != session.firmware_words) {
        fail_upload(state, &outcome, now_ms, format("error block %u: FirmwareLength %u expected %u", index, words,
                                            session.firmware_words));
        return outcome;
    }
    uint8_t *stored = &session.data[static_cast<size_t>(index) * FIRMWARE_BLOCK_SIZE];
    if (duplicate && std::memcmp(stored, block, FIRMWARE_BLOCK_SIZE) != 0) {
        fail_upload(state, &outcome, now_ms, format("error block %u: repeated with different data", index));
        return outcome;
    }
    const bool last = lax ? type == FIRM_LAST : index + 1 == session.block_count;
    if (last && !duplicate && index + 1 == session.block_count) {
        // The file ends inside the last block; the rest must be zero.
        size_t used = static_cast<size_t>(session.firmware_words) * 2 - static_cast<size_t>(index) * FIRMWARE_BLOCK_SIZE;
        for (size_t i = used; i < FIRMWARE_BLOCK_SIZE; ++i) {
            if (block[i] != 0) {
                fail_upload(state, &outcome, now_ms, format("error block %u: byte %zu after the end of the image is not zero",
                                                    index, i));
                return outcome;
            }
        }
    }

    // The fault script acts on the first packets of a block, retries included.
    const uint32_t arrival = ++session.arrivals[index];
    uint8_t reply_type = last ? FIRM_ALL_GOOD : FIRM_BLOCK_GOOD;
    uint8_t protocol_lo = PROTOCOL_VERSION_LO;
    size_t size = state->config.pad_replies;
    bool garbled = false, lost = false;
    std::string notes;
    for (const FaultRule &rule : state->config.faults) {
        if (!fault_selects(rule, index, session.block_count) || (rule.count != 0 && arrival > rule.count) ||
            (rule.upload != 0 && rule.upload != state->uploads))
            continue;
        switch (rule.action) {
        case FaultRule::Action::Drop:
            outcome.events.push_back(head + format(" dropped (fault, packet %u)", arrival));
            return outcome;
        case FaultRule::Action::Delay:
            outcome.delay_ms = rule.value;
            break;
        case FaultRule::Action::Type:
            reply_type = static_cast<uint8_t>(rule.value);
            break;
        case FaultRule::Action::Protocol:
            protocol_lo = static_cast<uint8_t>(rule.value);
            notes += format(" proto=%d", protocol_lo);
            break;
        case FaultRule::Action::FromAlt:
            outcome.from_alt = true;
            notes += " from " + format_address(state->config.alt);
            break;
        case FaultRule::Action::Oversize:
            size = rule.value;
            garbled = true;
            notes += format(" size=%zu", size);
            break;
        case FaultRule::Action::Lost:
            lost = true;
            notes += " lost (fault)";
            break;
        case FaultRule::Action::Old:
        case FaultRule::Action::Never:
            break;  // restarts, not blocks
        }
    }
    if (state->config.jitter_max_ms) {
        static std::minstd_rand random(std::random_device {}());
        const uint32_t span = state->config.jitter_max_ms - state->config.jitter_min_ms + 1;
        outcome.delay_ms += state->config.jitter_min_ms + static_cast<uint32_t>(random() % span);
    }
    if (outcome.delay_ms)
        notes += format(" after %u ms", outcome.delay_ms);
    outcome.again_ms = lost ? 0 : state->config.again_ms;
    if (outcome.again_ms)
        notes += format(" and again %u ms later", outcome.again_ms);
    if (!garbled && size > FIRMWARE_REPLY_SIZE)
        notes += format(" size=%zu", size);

    // A block answered with anything but a good Type is not taken.
    const bool accepted = reply_type == FIRM_BLOCK_GOOD || reply_type == FIRM_ALL_GOOD;
    const char *verdict = duplicate ? "duplicate" : accepted ? "accepted" : "rejected";
    outcome.events.push_back(head + " " + verdict + format(" -> reply type=%d", reply_type) + notes);
    outcome.reply = !lost;
    outcome.packet = build_firmware_reply(reply_type, protocol_lo, size);
    if (garbled)
        outcome.packet[OPCODE_OFFSET + 1] = 0;  // no ArtFirmwareReply any more, whatever its length

    if (!accepted)
        state->busy_until_ms = now_ms + state->config.busy_ms;
    if (duplicate || !accepted)
        return outcome;
    std::memcpy(stored, block, FIRMWARE_BLOCK_SIZE);
    ++session.next_index;
    session.last_id = id;
    session.last_type = type;
    if (last) {
        session.complete = true;
        outcome.completed = true;
        outcome.image.assign(session.data.begin(),
                             session.data.begin() + static_cast<size_t>(session.firmware_words) * 2);
        restart(state, &outcome, now_ms);
    }
    return outcome;
}
