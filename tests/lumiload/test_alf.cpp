// ALF images: the block count in 64 bits, and reads that keep failing
// (all the reader prints is in test_report.cpp).
#include <gtest/gtest.h>

#include <cstdio>

#include "alf.h"
#include "alfgen.h"
#include "process.h"

TEST(Alf, BlockCountsDoNotWrap)
{
    const std::pair<uint32_t, uint32_t> rows[] = {{0, 2}, {494, 2}, {495, 3}, {0xFFFFFFFFu, 8388610}};
    for (const auto &row : rows)
        EXPECT_EQ(alf_block_count(row.first), row.second) << row.first;
    EXPECT_EQ(alf_expected_size(0xFFFFFFFFu), 8589935650LL);
}

// A medium that fails part-way: the checksum reads each word once, counts a
// failed one as 0 and ends with the data, however many reads fail.
TEST(Alf, ReadsThatKeepFailingEndWithTheData)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime must be the first preloaded library";
#endif
    AlfImageSpec spec;
    spec.data = pseudo_random_data(100, 3);
    const TempDir dir;
    write_binary_file(dir.path + "/fw.alf", make_alf_image(spec));
    // The header is one read; the first data word is the second, and the
    // 99 after it fail.
    const ProcessResult r =
        run_program("env", {"LD_PRELOAD=" FAILING_READ_LIBRARY, "FAILING_READ_AFTER=2", bin_path("lumiload"), "-f",
                            dir.path + "/fw.alf", "-s", "127.0.61.2", "-d", "127.0.61.2"},
                    20);
    std::string expected;
    for (int i = 0; i < 99; ++i)
        expected += "Error: fread failed!\n";
    char checksum[96];
    std::snprintf(checksum, sizeof checksum, "Error: data checksum is invalid (expected=0x%04x actual=0x%04x)\n",
                  alf_data_checksum(spec.data), alf_data_checksum({spec.data[0], spec.data[1]}));
    EXPECT_EQ(r.err, expected + checksum);
    EXPECT_EQ(r.status, 1);
}
