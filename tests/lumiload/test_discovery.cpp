// Whether an image fits a fixture and whether the fixture needs it.

#include <gtest/gtest.h>

#include "discovery.h"

namespace {

AlfHeader image(uint16_t version, std::vector<uint16_t> oem_codes = {0x0101})
{
    AlfHeader header;
    header.valid = true;
    header.version = version;
    header.oemCodes = oem_codes;
    return header;
}

const uint16_t V235 = 2 << 8 | 35;

struct VerdictCase {
    const char *what;
    AlfHeader header;
    uint16_t esta, oem, fixture_version;
    bool ignore_version;
    UpgradeStatus expected;
};

TEST(UpgradeStatus, Table)
{
    const VerdictCase cases[] = {
        {"same version", image(V235), MAKER_CODE, 0x0101, V235, false, UpgradeStatus::UpToDate},
        {"same version, -i", image(V235), MAKER_CODE, 0x0101, V235, true, UpgradeStatus::UpgradeRequired},
        {"older fixture", image(V235), MAKER_CODE, 0x0101, 2 << 8 | 34, false, UpgradeStatus::UpgradeRequired},
        {"newer fixture: no downgrade", image(V235), MAKER_CODE, 0x0101, 3 << 8, false, UpgradeStatus::UpToDate},
        {"image 0.0.0", image(0), MAKER_CODE, 0x0101, 0xFFFF, false, UpgradeStatus::UpgradeRequired},
        {"no image", AlfHeader(), MAKER_CODE, 0x0101, 0, true, UpgradeStatus::Incompatible},
        {"foreign maker", image(V235), 0x2A4D, 0x0101, 0, true, UpgradeStatus::Incompatible},
        {"OEM not listed", image(V235), MAKER_CODE, 0x0102, 0, true, UpgradeStatus::Incompatible},
        {"maker OEM fits all", image(V235), MAKER_CODE, MAKER_CODE, 0, false, UpgradeStatus::UpgradeRequired},
        {"empty OEM list", image(V235, {}), MAKER_CODE, 0x0101, 0, false, UpgradeStatus::Incompatible},
        {"empty OEM list, maker OEM", image(V235, {}), MAKER_CODE, MAKER_CODE, 0, false,
         UpgradeStatus::UpgradeRequired},
        {"second OEM slot", image(V235, {0x0001, 0x0202}), MAKER_CODE, 0x0202, 0, false,
         UpgradeStatus::UpgradeRequired},
    };
    for (const VerdictCase &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(upgrade_status(c.header, c.esta, c.oem, c.fixture_version, c.ignore_version), c.expected);
    }
}

}  // namespace
