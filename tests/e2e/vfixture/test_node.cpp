// The virtual fixture checks every firmware packet as a real fixture would,
// so that the end-to-end tests see lumiload's mistakes: each broken
// sequence is answered with FirmFail. Without sockets.
#include <gtest/gtest.h>

#include <cstring>

#include "node.h"
#include "artnet_layout.h"

namespace {

// One ArtFirmwareMaster as lumiload sends it, its data all `fill`.
std::vector<uint8_t> master(uint8_t type, uint8_t id, uint32_t words, uint8_t fill)
{
    std::vector<uint8_t> p(FIRMWARE_MASTER_SIZE, 0);
    const uint8_t head[20] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0xF2, 0, 14, 0, 0,
                              type, id, uint8_t(words >> 24), uint8_t(words >> 16), uint8_t(words >> 8), uint8_t(words)};
    memcpy(p.data(), head, sizeof head);
    memset(&p[FIRMWARE_DATA_OFFSET], fill, FIRMWARE_BLOCK_SIZE);
    return p;
}

TEST(VfixtureNode, BrokenSequencesAreAnsweredWithFirmFail)
{
    const uint32_t w = 1600;  // four blocks
    const std::pair<std::vector<std::vector<uint8_t>>, std::string> rows[] = {
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_CONT, 2, w, 1)}, "error block 1: BlockId 2 expected 1"},
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_LAST, 1, w, 1)}, "error block 1: Type 2 expected 1"},
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_CONT, 1, w + 1, 1)},
         "error block 1: FirmwareLength 1601 expected 1600"},
        {{master(FIRM_CONT, 1, w, 1)}, "error: Type 1 BlockId 1 without an upload in progress"},
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_FIRST, 0, w, 2)}, "error block 0: repeated with different data"},
        {{master(FIRM_FIRST, 0, 1025, 1), master(FIRM_CONT, 1, 1025, 1), master(FIRM_LAST, 2, 1025, 1)},
         "error block 2: byte 2 after the end of the image is not zero"},
    };
    std::vector<FixtureConfig> configs;
    std::string error;
    ASSERT_TRUE(parse_fixture_spec("bind=2.0.0.10", &configs, &error)) << error;
    for (const auto &row : rows) {
        FixtureState state = make_fixture_state(configs[0]);
        Outcome out;
        for (const auto &packet : row.first)
            out = handle_firmware_master(&state, packet.data(), packet.size(), 0x02000001);
        EXPECT_EQ(out.events.back(), row.second + " -> reply type=255");
        EXPECT_EQ(out.packet.at(FIRMWARE_REPLY_TYPE_OFFSET), FIRM_FAIL) << row.second;
    }
}

}  // namespace
