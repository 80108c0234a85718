// The virtual fixture's packet handling: ArtPollReply bytes, the upload
// checks and the fault script, without sockets.
#include <gtest/gtest.h>

#include <cstring>

#include "node.h"
#include "packets.h"

static const uint8_t POLL[22] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x20, 0, 14,
                                 0,   0,   0,   0,   0,   0,   0x2A, 0x4D, 0x2A, 0x4D};
static const uint32_t CONTROLLER = 0x02000001;  // 2.0.0.1

static FixtureState fixture(const std::string &spec)
{
    std::vector<FixtureConfig> configs;
    std::string error;
    EXPECT_TRUE(parse_fixture_spec(spec, &configs, &error)) << error;
    return make_fixture_state(configs.at(0));
}

// One ArtFirmwareMaster as lumiload sends it.
static std::vector<uint8_t> master(uint8_t type, uint8_t id, uint32_t words, uint8_t fill)
{
    std::vector<uint8_t> p(FIRMWARE_MASTER_SIZE, 0);
    const uint8_t head[20] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0xF2, 0, 14, 0, 0,
                              type, id, uint8_t(words >> 24), uint8_t(words >> 16), uint8_t(words >> 8),
                              uint8_t(words)};
    memcpy(p.data(), head, sizeof head);
    memset(&p[FIRMWARE_DATA_OFFSET], fill, FIRMWARE_BLOCK_SIZE);
    return p;
}

static Outcome send(FixtureState *state, const std::vector<uint8_t> &packet)
{
    return handle_firmware_master(state, packet.data(), packet.size(), CONTROLLER);
}

TEST(VfixtureNode, PollReplyBytes)
{
    FixtureState state = fixture("bind=2.0.0.10,ip=2.0.0.99,version=2.3.5,oem=0x1234,short=ABCDEFGHIJKLMNOPQR,"
                                 "long=Spot\\x01,mac=01:02:03:04:05:06");
    ASSERT_EQ(classify_packet(POLL, sizeof POLL), PacketKind::Poll);
    Outcome out = handle_poll(&state, POLL, sizeof POLL, CONTROLLER);
    ASSERT_TRUE(out.reply);
    EXPECT_EQ(out.destination, CONTROLLER);
    ASSERT_EQ(out.packet.size(), 239u);
    const uint8_t head[26] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x21, 2, 0, 0, 99, 0x36, 0x19,
                              2,   35,  0,   0,   0x12, 0x34, 0, 0, 0x2A, 0x4D};
    EXPECT_EQ(0, memcmp(out.packet.data(), head, sizeof head));
    EXPECT_EQ(0, memcmp(&out.packet[26], "ABCDEFGHIJKLMNOPQR", 18)) << "ShortName fills its field";
    EXPECT_EQ(0, memcmp(&out.packet[44], "Spot\x01\0", 6));
    const uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(0, memcmp(&out.packet[201], mac, 6));
    ASSERT_EQ(out.events.size(), 1u);
    EXPECT_EQ(out.events[0], "poll from 2.0.0.1 -> replied 239 bytes to 2.0.0.1");
}

TEST(VfixtureNode, ShortBroadcastReplyAndOddPoll)
{
    FixtureState state = fixture("bind=2.0.0.10,length=207,reply=broadcast");
    Outcome out = handle_poll(&state, POLL, 20, CONTROLLER);
    EXPECT_EQ(out.packet.size(), 207u);
    EXPECT_EQ(out.destination, 0x02FFFFFFu);
    ASSERT_EQ(out.events.size(), 2u);
    EXPECT_EQ(out.events[0], "error poll from 2.0.0.1: length 20, expected 22");
}

TEST(VfixtureNode, UploadCompletesAndReportsTheNewVersion)
{
    FixtureState state = fixture("bind=2.0.0.10");
    const uint32_t words = 1025;  // three blocks, the last holding 2 bytes
    Outcome first = send(&state, master(FIRM_FIRST, 0, words, 0xAB));
    ASSERT_EQ(first.events.size(), 1u);
    EXPECT_EQ(first.events[0], "block 0 type=0 id=0 len=1025 accepted -> reply type=0");
    ASSERT_EQ(first.packet.size(), 36u);
    const uint8_t good[16] = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0xF3, 0, 14, 0, 0, 0x00, 0};
    EXPECT_EQ(0, memcmp(first.packet.data(), good, sizeof good));

    // The first block's reply was lost: the repeat is acknowledged again.
    Outcome again = send(&state, master(FIRM_FIRST, 0, words, 0xAB));
    EXPECT_EQ(again.events.at(0), "block 0 type=0 id=0 len=1025 duplicate -> reply type=0");

    EXPECT_TRUE(send(&state, master(FIRM_CONT, 1, words, 0xCD)).reply);
    std::vector<uint8_t> last = master(FIRM_LAST, 2, words, 0);
    last[FIRMWARE_DATA_OFFSET] = 0x01;
    last[FIRMWARE_DATA_OFFSET + 1] = 0x17;
    Outcome done = send(&state, last);
    EXPECT_EQ(done.events.at(0), "block 2 type=2 id=2 len=1025 accepted -> reply type=1");
    EXPECT_EQ(done.packet[FIRMWARE_REPLY_TYPE_OFFSET], FIRM_ALL_GOOD);
    ASSERT_TRUE(done.completed);
    ASSERT_EQ(done.image.size(), 2050u);
    EXPECT_EQ(done.image[0], 0xAB);
    EXPECT_EQ(done.image[1024], 0xCD);
    EXPECT_EQ(done.image[2048], 0x01);
    // The image's own version bytes (offsets 2 and 3) are 0xAB 0xAB.
    EXPECT_EQ(format_version(state.version_hi, state.version_lo), "171.17.1");
    Outcome poll = handle_poll(&state, POLL, sizeof POLL, CONTROLLER);
    EXPECT_EQ(poll.packet[REPLY_VERS_HI_OFFSET], 0xAB);
}

struct ErrorRow {
    std::vector<std::vector<uint8_t>> packets;
    std::string last_event;
};

TEST(VfixtureNode, BrokenSequencesAreAnsweredWithFirmFail)
{
    const uint32_t w = 1600;  // four blocks
    const ErrorRow rows[] = {
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_CONT, 2, w, 1)},
         "error block 1: BlockId 2 expected 1 -> reply type=255"},
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_LAST, 1, w, 1)},
         "error block 1: Type 2 expected 1 -> reply type=255"},
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_CONT, 1, w + 1, 1)},
         "error block 1: FirmwareLength 1601 expected 1600 -> reply type=255"},
        {{master(FIRM_CONT, 1, w, 1)}, "error: Type 1 BlockId 1 without an upload in progress -> reply type=255"},
        {{master(FIRM_FIRST, 0, w, 1), master(FIRM_FIRST, 0, w, 2)},
         "error block 0: repeated with different data -> reply type=255"},
        {{master(FIRM_FIRST, 0, 1025, 1), master(FIRM_CONT, 1, 1025, 1), master(FIRM_LAST, 2, 1025, 1)},
         "error block 2: byte 2 after the end of the image is not zero -> reply type=255"},
    };
    for (const ErrorRow &row : rows) {
        FixtureState state = fixture("bind=2.0.0.10");
        Outcome out;
        for (const auto &packet : row.packets)
            out = send(&state, packet);
        EXPECT_EQ(out.events.back(), row.last_event);
        EXPECT_EQ(out.packet.at(FIRMWARE_REPLY_TYPE_OFFSET), FIRM_FAIL) << row.last_event;
        EXPECT_FALSE(state.upload.active);
    }
    FixtureState state = fixture("bind=2.0.0.10");
    std::vector<uint8_t> short_packet = master(FIRM_FIRST, 0, w, 1);
    short_packet.resize(1000);
    Outcome out = send(&state, short_packet);
    EXPECT_FALSE(out.reply);
    EXPECT_EQ(out.events.at(0), "error firmware packet from 2.0.0.1: length 1000, expected 1064");
}

TEST(VfixtureNode, FaultScript)
{
    const uint32_t w = 1100;  // three blocks
    FixtureState state = fixture("bind=2.0.0.10,alt=2.0.0.20,fault=1:drop*2,fault=1:delay=30,fault=first:proto=13,"
                                 "fault=first:alt,fault=last:oversize=40,fault=last:type=good");
    Outcome out = send(&state, master(FIRM_FIRST, 0, w, 1));
    EXPECT_EQ(out.events.at(0), "block 0 type=0 id=0 len=1100 accepted -> reply type=0 proto=13 from 2.0.0.20");
    EXPECT_EQ(out.packet[11], 13);
    EXPECT_TRUE(out.from_alt);
    out = send(&state, master(FIRM_CONT, 1, w, 1));
    EXPECT_FALSE(out.reply);
    EXPECT_EQ(out.events.at(0), "block 1 type=1 id=1 len=1100 dropped (fault, packet 1)");
    out = send(&state, master(FIRM_CONT, 1, w, 1));
    EXPECT_EQ(out.events.at(0), "block 1 type=1 id=1 len=1100 dropped (fault, packet 2)");
    out = send(&state, master(FIRM_CONT, 1, w, 1));
    EXPECT_EQ(out.events.at(0), "block 1 type=1 id=1 len=1100 accepted -> reply type=0")
        << "the delay acts on the first packet only, which was dropped";
    out = send(&state, master(FIRM_LAST, 2, w, 0));
    EXPECT_EQ(out.events.at(0), "block 2 type=2 id=2 len=1100 accepted -> reply type=0 size=40");
    EXPECT_EQ(out.packet.size(), 40u);
    EXPECT_TRUE(out.completed) << "FirmBlockGood to the last block still takes the image";

    FixtureState late = fixture("bind=2.0.0.10,fault=middle:delay=120,fault=first:type=allgood");
    out = send(&late, master(FIRM_FIRST, 0, w, 1));
    EXPECT_EQ(out.events.at(0), "block 0 type=0 id=0 len=1100 accepted -> reply type=1");
    out = send(&late, master(FIRM_CONT, 1, w, 1));
    EXPECT_EQ(out.delay_ms, 120u);
    EXPECT_EQ(out.events.at(0), "block 1 type=1 id=1 len=1100 accepted -> reply type=0 after 120 ms");

    FixtureState failing = fixture("bind=2.0.0.10,fault=middle:type=fail");
    send(&failing, master(FIRM_FIRST, 0, w, 1));
    out = send(&failing, master(FIRM_CONT, 1, w, 1));
    EXPECT_EQ(out.events.at(0), "block 1 type=1 id=1 len=1100 rejected -> reply type=255");
    EXPECT_EQ(failing.upload.next_index, 1u) << "a rejected block is not taken";
}
