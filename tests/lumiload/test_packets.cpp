// Art-Net packets byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "packets.h"

namespace {

TEST(Packets, ArtPoll)
{
    const uint8_t expected[ART_POLL_SIZE] = {
        'A', 'r', 't', '-', 'N', 'e', 't', 0,  // ID
        0x00, 0x20, 0, 14, 0, 0,               // OpPoll low byte first, protocol 14, Flags, DiagPriority
        0, 0, 0, 0,                            // target port addresses
        0x2A, 0x4D, 0x2A, 0x4D,                // the maker code twice, low byte first
    };
    uint8_t packet[ART_POLL_SIZE];
    std::memset(packet, 0xEE, sizeof packet);
    build_art_poll(packet);
    EXPECT_EQ(0, std::memcmp(packet, expected, sizeof packet));
}

TEST(Packets, ArtFirmwareMaster)
{
    uint8_t block[FIRMWARE_BLOCK_SIZE];
    for (size_t i = 0; i < sizeof block; ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    const uint8_t header[40] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0xF2, 0, 14, 0, 0,
                                0x01,                    // FirmCont
                                5,                       // BlockId
                                0x00, 0x00, 0x05, 0xFA,  // 1000 data words + 530 header words, big-endian
                                0};
    uint8_t packet[FIRMWARE_MASTER_SIZE];
    std::memset(packet, 0xEE, sizeof packet);
    build_firmware_master(packet, FIRM_CONT, 5, 1530, block);
    EXPECT_EQ(0, std::memcmp(packet, header, sizeof header));
    EXPECT_EQ(0, std::memcmp(packet + 40, block, sizeof block));
}

TEST(Packets, ArtPollReply)
{
    std::vector<uint8_t> reply(239, 0);
    const uint8_t head[26] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x21, 2, 0, 0, 5, 0x36, 0x19,
                              1,   9,   0,   0,   0x12, 0x34, 0, 0, 0x2A, 0x4D};
    std::memcpy(reply.data(), head, sizeof head);
    std::memset(&reply[26], 'S', 18);  // names that fill their fields
    std::memset(&reply[44], 'L', 64);
    const uint8_t mac[6] = {0xAA, 1, 2, 3, 4, 0xFF};
    std::memcpy(&reply[201], mac, 6);
    reply[212] = 0x02;  // Status2 "DHCP", where a short reply's buffer holds an older datagram's byte

    EXPECT_TRUE(is_poll_reply(reply.data(), 207));
    EXPECT_FALSE(is_poll_reply(reply.data(), 206)) << "the MAC must have arrived";
    const PollReply value = decode_poll_reply(reply.data(), 207);
    const uint8_t ip[4] = {2, 0, 0, 5};
    EXPECT_EQ(0, std::memcmp(&value.ip, ip, 4)) << "kept in network order";
    EXPECT_EQ(0, std::memcmp(value.mac, mac, 6));
    EXPECT_EQ(value.version, 0x0109);
    EXPECT_EQ(value.oem_code, 0x1234);
    EXPECT_EQ(value.esta_code, 0x4D2A);
    EXPECT_EQ(std::string(value.short_name), std::string(17, 'S'));
    EXPECT_EQ(std::string(value.long_name), std::string(63, 'L'));
    EXPECT_EQ(value.status2, 0) << "Status2 did not arrive";
    EXPECT_EQ(decode_poll_reply(reply.data(), 213).status2, 0x02);
    reply[9] = 0x20;  // our own ArtPoll coming back
    EXPECT_FALSE(is_poll_reply(reply.data(), 239));
}

TEST(Packets, ArtFirmwareReply)
{
    const struct {
        uint8_t protocol_hi, protocol_lo, opcode_hi;
        size_t length;
        FirmwareReplyCheck expected;
    } rows[] = {
        {0, 14, 0xF3, 36, FirmwareReplyCheck::Accepted},  {0, 15, 0xF3, 36, FirmwareReplyCheck::Accepted},
        {0, 13, 0xF3, 36, FirmwareReplyCheck::BadProtocol}, {1, 14, 0xF3, 36, FirmwareReplyCheck::BadProtocol},
        {0, 14, 0xF3, 35, FirmwareReplyCheck::NotAReply}, {0, 14, 0xF2, 36, FirmwareReplyCheck::NotAReply},
    };
    for (const auto &row : rows) {
        const uint8_t reply[36] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, row.opcode_hi, row.protocol_hi,
                                   row.protocol_lo};
        EXPECT_EQ(check_firmware_reply(reply, row.length), row.expected)
            << int(row.protocol_lo) << " " << int(row.opcode_hi) << " " << row.length;
    }
}

}  // namespace
