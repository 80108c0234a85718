// What one virtual fixture does with a datagram: the ArtPollReply it sends
// to a poll, and the checks, bookkeeping and ArtFirmwareReply of a firmware
// upload, fault script included. Byte buffers and plain state only; the
// sockets, timers and files are main.cpp's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config.h"
#include "firmware_version.h"

// One upload as the fixture sees it, from its FirmFirst packet on.
struct UploadSession {
    bool active = false;     // a FirmFirst packet was seen and no error since
    bool complete = false;   // the last block was accepted
    uint32_t firmware_words = 0;
    uint32_t block_count = 0;
    uint32_t next_index = 0;          // index of the next new block expected
    uint8_t last_id = 0, last_type = 0;  // of the block taken last: a packet with both repeats it
    std::vector<uint8_t> data;        // blocks as received, 1024 bytes each
    std::vector<uint32_t> arrivals;   // packets seen per block index, retries included
};

struct FixtureState {
    FixtureConfig config;
    uint8_t version_hi = 0;   // reported in ArtPollReply; replaced after an upload
    uint8_t version_lo = 0;
    UploadSession upload;
    // After a completed upload the fixture restarts: it answers nothing
    // before this time (ms on the caller's clock), or never again.
    uint64_t silent_until_ms = 0;
    bool gone = false;
    uint32_t restarts = 0;
    uint32_t uploads = 0;          // begun in the fixture's life
    uint64_t busy_until_ms = 0;    // firmware packets refused before this time (busy=)
    bool moved = false;            // at new_ip since its restart
    bool reverted = false;         // its last restart kept the old version
    bool locating = false;         // its indicators flash (ArtAddress LED locate)
};

FixtureState make_fixture_state(const FixtureConfig &config);

// What to send back, if anything, and what to print.
struct Outcome {
    std::vector<std::string> events;   // one line each, without the fixture prefix
    bool reply = false;
    std::vector<uint8_t> packet;
    std::vector<std::vector<uint8_t>> more_packets;  // sent after `packet`, to the same destination
    uint32_t destination = 0;          // host order
    bool from_alt = false;
    uint32_t delay_ms = 0;
    uint32_t again_ms = 0;             // `packet` sent a second time this much after it
    bool completed = false;            // the upload just completed: `image` holds it
    std::vector<uint8_t> image;
};

enum class PacketKind { Poll, FirmwareMaster, Address, OtherArtNet, NotArtNet };
PacketKind classify_packet(const uint8_t *data, size_t length);

std::vector<uint8_t> build_poll_reply(const FixtureState &state);
std::vector<uint8_t> build_firmware_reply(uint8_t type, uint8_t protocol_lo, size_t size);

// A version held in two bytes, as every program of the project shows it.
inline std::string format_version(uint8_t hi, uint8_t lo) { return version_text(static_cast<uint16_t>(hi << 8 | lo)); }

// A poll from `sender` (host order) at `now_ms` on the caller's clock. The
// reply goes to the sender, or to the broadcast address with
// reply=broadcast; while the fixture restarts there is none.
Outcome handle_poll(FixtureState *state, const uint8_t *data, size_t length, uint32_t sender,
                    uint64_t now_ms = 0);

// An ArtAddress from `sender` (host order): the indicator commands switch
// locating on or off; a field that would change a setting, or any other
// command, is an error of the sender. The node answers with its
// ArtPollReply, as to a poll.
Outcome handle_address(FixtureState *state, const uint8_t *data, size_t length, uint32_t sender,
                       uint64_t now_ms = 0);

// An ArtFirmwareMaster from `sender` (host order) at `now_ms`; the reply
// goes to the sender. On completion `version_hi`/`version_lo` take the
// image's version bytes (offsets 2 and 3), unless a reboot fault keeps the
// old ones, and the fixture restarts for its reboot time.
Outcome handle_firmware_master(FixtureState *state, const uint8_t *data, size_t length,
                               uint32_t sender, uint64_t now_ms = 0);
