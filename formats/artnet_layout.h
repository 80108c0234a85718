// Art-Net's field layout as this project's programs use it: the port, the
// header every packet starts with, and the offsets and sizes of ArtPoll,
// ArtPollReply, ArtFirmwareMaster and ArtFirmwareReply. Constants only; the
// console's packet code and the virtual fixture both read the wire by them.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint16_t ARTNET_PORT = 6454;
constexpr uint8_t ARTNET_ID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr uint16_t OP_POLL = 0x2000;
constexpr uint16_t OP_POLL_REPLY = 0x2100;
constexpr uint16_t OP_ADDRESS = 0x6000;
constexpr uint16_t OP_FIRMWARE_MASTER = 0xF200;
constexpr uint16_t OP_FIRMWARE_REPLY = 0xF300;
constexpr uint8_t PROTOCOL_VERSION_HI = 0;
constexpr uint8_t PROTOCOL_VERSION_LO = 14;

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
constexpr size_t REPLY_STATUS1_OFFSET = 23;
constexpr size_t REPLY_BIND_INDEX_OFFSET = 211;  // which of a node's ports (1..n) this reply describes
constexpr size_t REPLY_STATUS2_OFFSET = 212;
constexpr uint8_t STATUS1_BOOTED_FROM_ROM = 0x04;
constexpr uint8_t STATUS2_DHCP_CONFIGURED = 0x02;  // the address came from DHCP: it may change at a restart
constexpr uint8_t STATUS2_DHCP_CAPABLE = 0x04;

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

// ArtAddress as sent: every setting "no change", and one command. Only the
// front-panel indicator commands are ever sent (to find a fixture).
constexpr size_t ART_ADDRESS_SIZE = 107;
constexpr size_t ADDRESS_PROT_VER_LO_OFFSET = 11;
constexpr size_t ADDRESS_NET_SWITCH_OFFSET = 12;
constexpr size_t ADDRESS_BIND_INDEX_OFFSET = 13;
constexpr size_t ADDRESS_SHORT_NAME_OFFSET = 14;  // 18 bytes; empty: no change
constexpr size_t ADDRESS_LONG_NAME_OFFSET = 32;   // 64 bytes; empty: no change
constexpr size_t ADDRESS_SW_IN_OFFSET = 96;       // 4 bytes
constexpr size_t ADDRESS_SW_OUT_OFFSET = 100;     // 4 bytes
constexpr size_t ADDRESS_SUB_SWITCH_OFFSET = 104;
constexpr size_t ADDRESS_ACN_PRIORITY_OFFSET = 105;
constexpr size_t ADDRESS_COMMAND_OFFSET = 106;
constexpr uint8_t ADDRESS_NO_CHANGE = 0x7F;       // NetSwitch, SwIn, SwOut, SubSwitch
constexpr uint8_t ADDRESS_PRIORITY_NO_CHANGE = 0xFF;
constexpr uint8_t AC_LED_NORMAL = 0x02;
constexpr uint8_t AC_LED_LOCATE = 0x04;
