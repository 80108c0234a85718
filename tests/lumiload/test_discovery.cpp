// Whether an image fits a fixture and whether the fixture needs it; the
// subnet filter of discovery over real loopback sockets.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "discovery.h"
#include "harness.h"

namespace {

TEST(Discovery, Verdicts)
{
    const uint16_t V235 = 2 << 8 | 35;
    const struct {
        uint16_t image_version;
        std::vector<uint16_t> oem_codes;
        uint16_t esta, oem, fixture_version;
        bool ignore_version;
        UpgradeStatus expected;
    } rows[] = {
        {V235, {0x0101}, MAKER_CODE, 0x0101, V235, false, UpgradeStatus::UpToDate},
        {V235, {0x0101}, MAKER_CODE, 0x0101, V235, true, UpgradeStatus::UpgradeRequired},
        {V235, {0x0101}, MAKER_CODE, 0x0101, 2 << 8 | 34, false, UpgradeStatus::UpgradeRequired},
        {V235, {0x0101}, MAKER_CODE, 0x0101, 3 << 8, false, UpgradeStatus::UpToDate},  // never a downgrade
        {0, {0x0101}, MAKER_CODE, 0x0101, 0xFFFF, false, UpgradeStatus::UpgradeRequired},
        {V235, {0x0101}, 0x2A4D, 0x0101, 0, true, UpgradeStatus::Incompatible},      // maker code bytes swapped
        {V235, {0x0101}, MAKER_CODE, 0x0102, 0, true, UpgradeStatus::Incompatible},  // -i never lifts this
        {V235, {0x0001, 0x0202}, MAKER_CODE, 0x0202, 0, false, UpgradeStatus::UpgradeRequired},
        {V235, {}, MAKER_CODE, 0x0101, 0, false, UpgradeStatus::Incompatible},
        {V235, {}, MAKER_CODE, MAKER_CODE, 0, false, UpgradeStatus::UpgradeRequired},  // the maker's OEM code fits all
    };
    for (const auto &row : rows) {
        AlfHeader header;
        header.valid = true;
        header.version = row.image_version;
        header.oemCodes = row.oem_codes;
        EXPECT_EQ(upgrade_status(header, row.esta, row.oem, row.fixture_version, row.ignore_version), row.expected)
            << &row - rows;
    }
    EXPECT_EQ(upgrade_status(AlfHeader(), MAKER_CODE, MAKER_CODE, 0, true), UpgradeStatus::Incompatible);
}

// Bound to a source address, discovery hears only senders in its subnet, a
// /24 on loopback here (all of 127.0.0.0/8 is local). The fixtures hear the
// poll at the /24's broadcast address; the one outside answers first.
TEST(Discovery, RepliesFromOutsideTheSourceSubnetAreDropped)
{
    const TempDir dir;
    VirtualFixtures fixtures;
    ASSERT_TRUE(fixtures.start(dir.path, {"bind=127.0.78.11,bcast=127.0.77.255", "bind=127.0.77.11,bcast=127.0.77.255"}))
        << fixtures.error;
    const PollTarget target = {inet_addr("127.0.77.1"), inet_addr("255.255.255.0"), inet_addr("127.0.77.255"), true};
    std::vector<FixtureRecord> found;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(run_poll(target, {}, false, &found));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), fixture_block("127.0.77.11") + "\n");
    EXPECT_EQ(count_lines(fixtures.stop(), "127.0.78.11: poll from 127.0.77.1 -> replied"), 1u);
}

}  // namespace
