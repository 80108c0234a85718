// Art-Net packets on the wire: the bytes lumiload sends (ArtPoll,
// ArtFirmwareMaster) and the checks and fields of what it accepts
// (ArtPollReply, ArtFirmwareReply). Pure byte-buffer code, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "artnet_layout.h"
#include "maker_code.h"

// One fixture to update: its accepted ArtPollReply, first 239 bytes, with
// the name fields terminated. After discovery only the IP Address is read.
struct FixtureRecord {
    uint8_t bytes[FIXTURE_RECORD_SIZE];
};

void build_art_poll(uint8_t packet[ART_POLL_SIZE]);

// An ArtAddress that changes nothing but the front-panel indicators:
// `command` AC_LED_LOCATE (they flash) or AC_LED_NORMAL.
void build_art_address(uint8_t packet[ART_ADDRESS_SIZE], uint8_t command);

// `block_index` is the block's index from 0 (sent modulo 256);
// `firmware_words` is the whole file's length in 16-bit words.
void build_firmware_master(uint8_t packet[FIRMWARE_MASTER_SIZE], uint8_t type,
                           uint32_t block_index, uint32_t firmware_words,
                           const uint8_t block[FIRMWARE_BLOCK_SIZE]);

// True for a datagram of at least 207 bytes with the Art-Net ID and
// OpPollReply.
bool is_poll_reply(const uint8_t *datagram, size_t length);

// Zero bytes at 43, 107 and 171, so ShortName holds at most 17 characters
// and LongName and NodeReport at most 63, whatever the sender put there.
void terminate_reply_texts(uint8_t *reply);

// The IP Address field, in network byte order as on the wire.
uint32_t reply_ip_address(const uint8_t *reply);

// What lumiload shows and judges of one accepted ArtPollReply, as a plain
// value: the report prints it, discovery judges it, nobody reads offsets.
struct PollReply {
    uint32_t ip;                               // IP Address field, network byte order
    uint8_t mac[6];
    uint16_t esta_code;                        // EstaMan, low byte first on the wire
    uint16_t oem_code;                         // Oem, high byte first on the wire
    uint16_t version;                          // VersInfoH * 256 + VersInfoL
    char short_name[REPLY_SHORT_NAME_SIZE];    // at most 17 characters, terminated
    char long_name[REPLY_LONG_NAME_SIZE];      // at most 63 characters, terminated
    char node_report[REPLY_NODE_REPORT_SIZE];  // at most 63 characters, terminated
    uint8_t status1, status2;                  // bits as the standard defines them
};

// What a fixture's reply says about its own state, for the operator, when
// it says something worth telling: its NodeReport when the code there is
// one of trouble (the code read as hex, as the standard writes it, or as
// decimal where only that names a known code, as some nodes write it), and
// the status bits "booted from ROM" and "address from DHCP". "" otherwise.
std::string node_explanation(const PollReply &reply);

// True when two replies come from the same device: the same MAC.
bool same_mac(const uint8_t *reply, const uint8_t mac[6]);

// Decodes a reply of `length` bytes that passed is_poll_reply; the names
// are cut as terminate_reply_texts cuts them, whether or not it ran. Fields
// past `length` (a short reply's Status2) read as 0, whatever the buffer
// holds there.
PollReply decode_poll_reply(const uint8_t *reply, size_t length);

enum class FirmwareReplyCheck {
    NotAReply,        // too short, wrong ID or OpCode: dropped silently
    BadProtocol,      // an ArtFirmwareReply of a protocol older than 14
    Accepted,
};

// The sender test (the fixture's own address) is the caller's.
FirmwareReplyCheck check_firmware_reply(const uint8_t *datagram, size_t length);
