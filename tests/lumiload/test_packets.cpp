// Art-Net packets byte for byte.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "packets.h"

namespace {

const uint8_t ART_POLL[ART_POLL_SIZE] = {
    'A', 'r', 't', '-', 'N', 'e', 't', 0,  // ID
    0x00, 0x20,                            // OpPoll, low byte first
    0, 14,                                 // protocol version
    0, 0,                                  // Flags, DiagPriority
    0, 0, 0, 0,                            // target port addresses
    0x2A, 0x4D, 0x2A, 0x4D,                // maker code twice, low byte first
};

TEST(Packets, ArtPollIsExact)
{
    uint8_t packet[ART_POLL_SIZE];
    std::memset(packet, 0xEE, sizeof packet);
    build_art_poll(packet);
    EXPECT_EQ(0, std::memcmp(packet, ART_POLL, sizeof packet));
}

TEST(Packets, FirmwareMasterHeaderAndData)
{
    uint8_t block[FIRMWARE_BLOCK_SIZE];
    for (size_t i = 0; i < sizeof block; ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    uint8_t packet[FIRMWARE_MASTER_SIZE];
    std::memset(packet, 0xEE, sizeof packet);
    build_firmware_master(packet, FIRM_CONT, 5, 1530, block);

    const uint8_t header[40] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0xF2, 0, 14, 0, 0,
                                0x01,                    // FirmCont
                                5,                       // BlockId
                                0x00, 0x00, 0x05, 0xFA,  // 1000 data words + 530 header words
                                0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(packet, header, sizeof header));
    EXPECT_EQ(0, std::memcmp(packet + 40, block, sizeof block));
}

TEST(Packets, FirmwareBlockIdWrapsAt256)
{
    uint8_t block[FIRMWARE_BLOCK_SIZE] = {};
    uint8_t packet[FIRMWARE_MASTER_SIZE];
    build_firmware_master(packet, FIRM_LAST, 256, 530, block);
    EXPECT_EQ(packet[14], 0x02);
    EXPECT_EQ(packet[15], 0);
    build_firmware_master(packet, FIRM_FIRST, 257, 0x01020304, block);
    EXPECT_EQ(packet[14], 0x00);
    EXPECT_EQ(packet[15], 1);
    EXPECT_EQ(packet[16], 0x01);
    EXPECT_EQ(packet[19], 0x04);
}

std::vector<uint8_t> poll_reply(size_t length)
{
    std::vector<uint8_t> reply(length, 0);
    std::memcpy(reply.data(), ARTNET_ID, 8);
    reply[8] = 0x00;
    reply[9] = 0x21;
    return reply;
}

TEST(Packets, PollReplyNeedsTheMacBytes)
{
    std::vector<uint8_t> reply = poll_reply(207);
    EXPECT_TRUE(is_poll_reply(reply.data(), 207));
    EXPECT_FALSE(is_poll_reply(reply.data(), 206));
    reply[9] = 0x20;  // our own ArtPoll coming back
    EXPECT_FALSE(is_poll_reply(reply.data(), 207));
    reply = poll_reply(239);
    reply[7] = 'X';
    EXPECT_FALSE(is_poll_reply(reply.data(), 239));
}

TEST(Packets, PollReplyFields)
{
    std::vector<uint8_t> reply = poll_reply(POLL_REPLY_BUFFER_SIZE);
    const uint8_t ip[4] = {2, 0, 0, 5};
    std::memcpy(&reply[10], ip, 4);
    reply[16] = 1;
    reply[17] = 9;
    reply[20] = 0x4D;
    reply[21] = 0x2A;
    reply[24] = 0x2A;
    reply[25] = 0x4D;
    const uint32_t address = reply_ip_address(reply.data());
    EXPECT_EQ(0, std::memcmp(&address, ip, 4));  // kept in network order
    EXPECT_EQ(decode_poll_reply(reply.data()).version, 0x0109);
    EXPECT_EQ(decode_poll_reply(reply.data()).oem_code, 0x4D2A);
    EXPECT_EQ(decode_poll_reply(reply.data()).esta_code, 0x4D2A);

    // Names that fill their fields are cut to 17 and 63 characters.
    std::memset(&reply[26], 'S', 18);
    std::memset(&reply[44], 'L', 64);
    std::memset(&reply[108], 'R', 64);
    terminate_reply_texts(reply.data());
    EXPECT_EQ(std::strlen(reinterpret_cast<char *>(&reply[26])), 17u);
    EXPECT_EQ(std::strlen(reinterpret_cast<char *>(&reply[44])), 63u);
    EXPECT_EQ(std::strlen(reinterpret_cast<char *>(&reply[108])), 63u);
}

std::vector<uint8_t> firmware_reply(uint8_t version_lo, uint8_t type)
{
    std::vector<uint8_t> reply(FIRMWARE_REPLY_SIZE, 0);
    std::memcpy(reply.data(), ARTNET_ID, 8);
    reply[8] = 0x00;
    reply[9] = 0xF3;
    reply[11] = version_lo;
    reply[14] = type;
    return reply;
}

TEST(Packets, FirmwareReplyChecks)
{
    std::vector<uint8_t> reply = firmware_reply(14, FIRM_ALL_GOOD);
    EXPECT_EQ(check_firmware_reply(reply.data(), 36), FirmwareReplyCheck::Accepted);
    EXPECT_EQ(check_firmware_reply(reply.data(), 35), FirmwareReplyCheck::NotAReply);
    EXPECT_EQ(check_firmware_reply(firmware_reply(15, 0).data(), 36), FirmwareReplyCheck::Accepted);
    EXPECT_EQ(check_firmware_reply(firmware_reply(13, 0).data(), 36), FirmwareReplyCheck::BadProtocol);
    reply[10] = 1;
    EXPECT_EQ(check_firmware_reply(reply.data(), 36), FirmwareReplyCheck::BadProtocol);
    reply = firmware_reply(14, 0);
    reply[9] = 0xF2;
    EXPECT_EQ(check_firmware_reply(reply.data(), 36), FirmwareReplyCheck::NotAReply);
}

}  // namespace
