// Art-Net packets on the wire: the bytes lumiload sends (ArtPoll,
// ArtFirmwareMaster) and the checks and fields of what it accepts
// (ArtPollReply, ArtFirmwareReply). Pure byte-buffer code, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t ARTNET_PORT = 6454;
constexpr uint8_t ARTNET_ID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr uint16_t OP_POLL = 0x2000;
constexpr uint16_t OP_POLL_REPLY = 0x2100;
constexpr uint16_t OP_FIRMWARE_MASTER = 0xF200;
constexpr uint16_t OP_FIRMWARE_REPLY = 0xF300;
constexpr uint8_t PROTOCOL_VERSION_HI = 0;
constexpr uint8_t PROTOCOL_VERSION_LO = 14;

// ESTA manufacturer code of the fixtures this tool serves.
constexpr uint16_t MAKER_CODE = 0x4D2A;

// Common header: ID at 0, OpCode (low byte first) at 8.
constexpr size_t OPCODE_OFFSET = 8;

// ArtPoll as sent.
constexpr size_t ART_POLL_SIZE = 22;

// ArtPollReply: read into a zeroed 512-byte buffer; the fixture keeps the
// first 239 bytes. Only 207 bytes (through the MAC) need to arrive: some
// nodes send short replies, and the missing tail reads as zero.
constexpr size_t POLL_REPLY_BUFFER_SIZE = 512;
constexpr size_t POLL_REPLY_MIN_SIZE = 207;
constexpr size_t FIXTURE_RECORD_SIZE = 239;
constexpr size_t REPLY_IP_OFFSET = 10;        // 4 bytes, network order
constexpr size_t REPLY_VERS_HI_OFFSET = 16;
constexpr size_t REPLY_VERS_LO_OFFSET = 17;
constexpr size_t REPLY_OEM_HI_OFFSET = 20;
constexpr size_t REPLY_OEM_LO_OFFSET = 21;
constexpr size_t REPLY_ESTA_LO_OFFSET = 24;
constexpr size_t REPLY_ESTA_HI_OFFSET = 25;
constexpr size_t REPLY_SHORT_NAME_OFFSET = 26;   // 18 bytes
constexpr size_t REPLY_SHORT_NAME_SIZE = 18;
constexpr size_t REPLY_LONG_NAME_OFFSET = 44;    // 64 bytes
constexpr size_t REPLY_LONG_NAME_SIZE = 64;
constexpr size_t REPLY_NODE_REPORT_OFFSET = 108; // 64 bytes
constexpr size_t REPLY_NODE_REPORT_SIZE = 64;
constexpr size_t REPLY_MAC_OFFSET = 201;         // 6 bytes

// ArtFirmwareMaster as sent: 40 bytes of header, then one 1024-byte block.
constexpr size_t FIRMWARE_MASTER_SIZE = 1064;
constexpr size_t FIRMWARE_BLOCK_SIZE = 1024;
constexpr size_t FIRMWARE_TYPE_OFFSET = 14;
constexpr size_t FIRMWARE_BLOCK_ID_OFFSET = 15;
constexpr size_t FIRMWARE_LENGTH_OFFSET = 16;   // 4 bytes, big-endian
constexpr size_t FIRMWARE_DATA_OFFSET = 40;
constexpr uint8_t FIRM_FIRST = 0x00;
constexpr uint8_t FIRM_CONT = 0x01;
constexpr uint8_t FIRM_LAST = 0x02;

// ArtFirmwareReply: read into a zeroed 36-byte buffer.
constexpr size_t FIRMWARE_REPLY_SIZE = 36;
constexpr size_t FIRMWARE_REPLY_TYPE_OFFSET = 14;
constexpr uint8_t FIRM_BLOCK_GOOD = 0x00;
constexpr uint8_t FIRM_ALL_GOOD = 0x01;
constexpr uint8_t FIRM_FAIL = 0xFF;

// One fixture to update: its accepted ArtPollReply, first 239 bytes, with
// the name fields terminated. After discovery only the IP Address is read.
struct FixtureRecord {
    uint8_t bytes[FIXTURE_RECORD_SIZE];
};

void build_art_poll(uint8_t packet[ART_POLL_SIZE]);

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
};

// Decodes a reply that passed is_poll_reply; the names are cut as
// terminate_reply_texts cuts them, whether or not it ran.
PollReply decode_poll_reply(const uint8_t *reply);

enum class FirmwareReplyCheck {
    NotAReply,        // too short, wrong ID or OpCode: dropped silently
    BadProtocol,      // an ArtFirmwareReply of a protocol older than 14
    Accepted,
};

// The sender test (the fixture's own address) is the caller's.
FirmwareReplyCheck check_firmware_reply(const uint8_t *datagram, size_t length);
