// ALF images: block counts and header decoding in-process; acceptance,
// rejection and the header block through the real program.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "alf.h"
#include "alfgen.h"
#include "loopback.h"
#include "process.h"

namespace {

const char BANNER[] = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n";
const char SEPARATOR[] = "########################################\n";
// The run stops at its socket, whose address each test holds itself; tests
// may run in parallel, so each has its own address.
std::string held_address()
{
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return "127.0.61." + std::to_string(1 + std::hash<std::string> {}(name) % 250);
}

class AlfProgram : public ::testing::Test {
protected:
    void SetUp() override { dir_ = make_temp_dir(); }
    void TearDown() override { remove_tree(dir_); }

    std::string write(const std::vector<uint8_t> &bytes)
    {
        const std::string path = dir_ + "/fw" + std::to_string(files_++) + ".alf";
        EXPECT_TRUE(write_binary_file(path, bytes));
        return path;
    }

    ProcessResult run(const std::string &path)
    {
        const std::string hold = held_address();
        PortBlocker blocker(hold.c_str());
        EXPECT_TRUE(blocker.bound());
        return run_program(bin_path("lumiload"), {"-f", path, "-s", hold, "-d", hold});
    }

    std::string dir_;
    int files_ = 0;
};

std::string header_block(const std::string &path, const std::string &lines)
{
    return std::string(BANNER) + "Opened ALF file " + path + ": \n" + lines;
}

TEST_F(AlfProgram, EmptyImageIsAcceptedWithTwoBlocks)
{
    AlfImageSpec spec;
    spec.name = "Empty";
    spec.version_hi = 1;
    spec.version_lo = 0;
    std::vector<uint8_t> image = make_alf_image(spec);
    ASSERT_EQ(image[0], 0xFF);
    ASSERT_EQ(image[1], 0xFF);
    const std::string path = write(image);
    const ProcessResult r = run(path);
    EXPECT_EQ(r.out, header_block(path,
                                  "    name=Empty\n"
                                  "    version=1.0.0\n"
                                  "    data_checksum=0xffff\n"
                                  "    data_length=0W\n"
                                  "    oemCodes=< >\n"
                                  "    blockCount=2\n") +
                         SEPARATOR);
    EXPECT_EQ(r.err, bind_in_use_errors());
    EXPECT_EQ(r.status, 1);
}

TEST_F(AlfProgram, OneWordChecksumAndLengthAndOemCodes)
{
    AlfImageSpec spec;
    spec.name = "Wash";
    spec.version_hi = 2;
    spec.version_lo = 0xFF;
    spec.oem_slots = {0x0012, 0x0000, 0x0034};
    spec.data = {0x01, 0x02};
    std::vector<uint8_t> image = make_alf_image(spec);
    ASSERT_EQ(image[0], 0xFD);
    ASSERT_EQ(image[1], 0xFE);
    const std::string good = write(image);
    const std::string lines =
        "    name=Wash\n"
        "    version=2.25.5\n"
        "    data_checksum=0xfdfe\n"
        "    data_length=1W\n"
        "    oemCodes=< 0x0012 0x0034 >\n"
        "    blockCount=2\n";

    ProcessResult r = run(good);
    EXPECT_EQ(r.out, header_block(good, lines) + SEPARATOR);
    EXPECT_EQ(r.status, 1);

    // One byte more than the header promises: rejected after the header block.
    image.push_back(0);
    const std::string longer = write(image);
    r = run(longer);
    EXPECT_EQ(r.out, header_block(longer, lines));
    EXPECT_EQ(r.err, "Error: ALF file length does not agree with header (expected=1062B actual=1063B)\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(AlfProgram, WrongChecksumIsRejected)
{
    AlfImageSpec spec;
    spec.data = {0x01, 0x02};
    spec.bad_checksum = true;
    const std::string path = write(make_alf_image(spec));
    const ProcessResult r = run(path);
    EXPECT_EQ(r.err, "Error: data checksum is invalid (expected=0x0201 actual=0xfdfe)\n");
    EXPECT_EQ(r.out.find(SEPARATOR), std::string::npos);
    EXPECT_EQ(r.status, 1);
}

TEST_F(AlfProgram, HugeDataLengthDoesNotWrapTheExpectedSize)
{
    std::vector<uint8_t> image = make_alf_image(AlfImageSpec());
    image[1056] = 0x80;  // 0x80000000 words: 2^32 + 1060 bytes expected
    const std::string path = write(image);
    const ProcessResult r = run(path);
    EXPECT_EQ(r.err, "Error: ALF file length does not agree with header (expected=4294968356B actual=1060B)\n");
    EXPECT_NE(r.out.find("    blockCount=4194306\n"), std::string::npos);
    EXPECT_EQ(r.status, 1);
}

TEST_F(AlfProgram, ShortFileAndMissingFile)
{
    const std::string path = write(std::vector<uint8_t>(100, 0));
    ProcessResult r = run(path);
    EXPECT_EQ(r.out, std::string(BANNER) + "Opened ALF file " + path + ": \n");
    EXPECT_EQ(r.err, "Error: Failed to read ALF header data\n");
    EXPECT_EQ(r.status, 1);

    r = run(dir_ + "/missing.alf");
    EXPECT_EQ(r.out, BANNER);
    EXPECT_EQ(r.err, "Error: failed to open ALF file at " + dir_ + "/missing.alf\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(AlfProgram, NamesAreShownSafely)
{
    AlfImageSpec spec;
    spec.name = std::string(30, 'N');  // fills the field: no terminator
    std::vector<uint8_t> image = make_alf_image(spec);
    image[34] = 0x41;  // the first OEM slot follows the name directly
    image[35] = 0x42;
    const std::string full = write(image);
    ProcessResult r = run(full);
    EXPECT_NE(r.out.find("    name=" + std::string(30, 'N') + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("    oemCodes=< 0x4142 >\n"), std::string::npos);

    spec.name = std::string("Evil\nFixture detected:\x7f\x01", 24);
    const std::string evil = write(make_alf_image(spec));
    r = run(evil);
    EXPECT_NE(r.out.find("    name=Evil?Fixture detected:??\n"), std::string::npos);
    EXPECT_EQ(r.out.find("\nFixture detected:"), std::string::npos);
}

#if defined(__SANITIZE_ADDRESS__)
#define LUMI_SANITIZED 1
#else
#define LUMI_SANITIZED 0
#endif

TEST_F(AlfProgram, ReadsThatKeepFailingEndWithTheData)
{
    if (LUMI_SANITIZED)
        GTEST_SKIP() << "the sanitizer runtime must be the first preloaded library";
    AlfImageSpec spec;
    spec.data = pseudo_random_data(100, 3);
    const std::string path = write(make_alf_image(spec));
    const std::string hold = held_address();
    PortBlocker blocker(hold.c_str());
    // The header is read in one call; every word after the first fails.
    const ProcessResult r = run_program("env", {"LD_PRELOAD=" FAILING_READ_LIBRARY, "FAILING_READ_AFTER=2",
                                                bin_path("lumiload"), "-f", path, "-s", hold, "-d", hold},
                                        20);
    std::string expected;
    for (int i = 0; i < 99; ++i)
        expected += "Error: fread failed!\n";
    char checksum_line[128];
    const std::vector<uint8_t> first_word(spec.data.begin(), spec.data.begin() + 2);
    std::snprintf(checksum_line, sizeof checksum_line,
                  "Error: data checksum is invalid (expected=0x%04x actual=0x%04x)\n", alf_data_checksum(spec.data),
                  alf_data_checksum(first_word));
    EXPECT_EQ(r.err, expected + checksum_line);
    EXPECT_EQ(r.status, 1);
}

TEST(AlfHeader, BlockCounts)
{
    const struct {
        uint32_t data_length;
        uint32_t blocks;
    } cases[] = {{0, 2}, {494, 2}, {495, 3}, {1000, 3}, {0x80000000u, 4194306}, {0xFFFFFFFFu, 8388610}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.data_length);
        EXPECT_EQ(alf_block_count(c.data_length), c.blocks);
    }
    EXPECT_EQ(alf_expected_size(0xFFFFFFFFu), 8589935650LL);
}

TEST(AlfHeader, DecodesBigEndianFields)
{
    AlfImageSpec spec;
    spec.version_hi = 0x02;
    spec.version_lo = 0x17;
    spec.name = "Profile";
    spec.oem_slots = {0x4D2A, 0, 0x4D2A, 0x0101};
    spec.data = pseudo_random_data(300, 7);
    const std::vector<uint8_t> image = make_alf_image(spec);
    AlfHeader header;
    decode_alf_header(image.data(), &header);
    EXPECT_TRUE(header.valid);
    EXPECT_EQ(header.version, 0x0217);
    EXPECT_EQ(header.name, "Profile");
    EXPECT_EQ(header.oemCodes, (std::vector<uint16_t> {0x4D2A, 0x4D2A, 0x0101}));
    EXPECT_EQ(header.data_length, 300u);
    EXPECT_EQ(header.data_checksum, alf_data_checksum(spec.data));
}

}  // namespace
