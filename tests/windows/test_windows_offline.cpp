// The Windows build under Wine, for the runs that end before the network:
// options, help, ALF rejection. Each case runs lumiload.exe and the Linux
// lumiload with the same arguments; the Windows report must be the Linux
// report with CR LF line ends and the " Win32" label, byte for byte, on both
// streams, and the exit status the same.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "alfgen.h"
#include "process.h"
#include "wine.h"

namespace {

const char BANNER[] = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Win32)\r\n";

// What the help text looks like on Windows, spelled out once in full.
const char WINDOWS_HELP[] =
    "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Win32)\r\n"
    "Parameters:\r\n"
    "    File:                  -f [fw.alf]    (skip to only perform fixture detection without update)\r\n"
    "    Destination IP:        -d [x.x.x.x]   (skip to detect connected fixtures)\r\n"
    "    Source IP:             -s [0.0.0.0]   (skip to choose automatically)\r\n"
    "    Multi-fixture upload:  -m\r\n"
    "    Ignore version check:  -i\r\n"
    "    Test run:              -t             (specify to prevent actual programming taking place)\r\n"
    "    Show help message:     -h\r\n";

// Every case also names the loopback addresses, so that a run that got
// past its checks by mistake could only ever talk to loopback.
const std::vector<std::string> LOOPBACK = {"-s", "127.0.0.1", "-d", "127.0.0.1"};

// The image behind every ALF case: 600 words, three blocks.
AlfImageSpec offline_image()
{
    AlfImageSpec spec;
    spec.name = "Offline";
    spec.version_hi = 2;
    spec.version_lo = 35;
    spec.oem_slots = {0x0012, 0x0000, 0x0034};
    spec.data = pseudo_random_data(600, 7);
    return spec;
}

struct OfflineCase {
    const char *name;
    std::vector<std::string> args;
    std::string out;   // Windows bytes
    std::string err;   // Windows bytes
    int status;
};

std::vector<std::string> with_loopback(std::vector<std::string> args)
{
    args.insert(args.end(), LOOPBACK.begin(), LOOPBACK.end());
    return args;
}

class WindowsOffline : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = wine_unavailable_reason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        dir_ = make_temp_dir();
        ASSERT_FALSE(dir_.empty());
        const AlfImageSpec good = offline_image();
        const std::vector<uint8_t> image = make_alf_image(good);
        ASSERT_TRUE(write_binary_file(dir_ + "/short.alf", std::vector<uint8_t>(image.begin(), image.begin() + 100)));
        std::vector<uint8_t> longer = image;
        longer.push_back(0);
        ASSERT_TRUE(write_binary_file(dir_ + "/long.alf", longer));
        AlfImageSpec bad = good;
        bad.bad_checksum = true;
        ASSERT_TRUE(write_binary_file(dir_ + "/bad.alf", make_alf_image(bad)));
    }
    void TearDown() override
    {
        if (!dir_.empty())
            remove_tree(dir_);
    }

    // Runs both builds in the case's folder and checks the Windows result
    // against the case and against the Linux result.
    void check(const OfflineCase &c)
    {
        SCOPED_TRACE(c.name);
        const ProcessResult win = session_.run(c.args, dir_);
        ASSERT_TRUE(session_.error().empty()) << session_.error();
        EXPECT_EQ(win.out, c.out);
        EXPECT_EQ(win.err, c.err);
        EXPECT_EQ(win.status, c.status);

        const ProcessResult lin = run_program(linux_lumiload(), c.args, 30, {}, dir_);
        EXPECT_EQ(linux_form(win.out), lin.out);
        EXPECT_EQ(linux_form(win.err), lin.err);
        EXPECT_EQ(win.status, lin.status);
    }

    WineSession session_;
    std::string dir_;
};

TEST_F(WindowsOffline, HelpTextInTextMode)
{
    const std::string help = WINDOWS_HELP;
    const OfflineCase cases[] = {
        {"-h", {"-h"}, help, "", 0},
        {"-t -h: help wins, no test-run line", {"-t", "-h"}, help, "", 0},
        {"unknown option", {"-x"}, help, "", 0},
        {"-f without its value", {"-f"}, help, "", 0},
        {"-h after other options", with_loopback({"-m", "-i", "-h"}), help, "", 0},
        {"-s without its value", {"-d", "127.0.0.1", "-s"}, help, "", 0},
    };
    for (const OfflineCase &c : cases)
        check(c);
}

TEST_F(WindowsOffline, AlfRejection)
{
    const AlfImageSpec good = offline_image();
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04x", alf_data_checksum(good.data));
    char inverted[8];
    std::snprintf(inverted, sizeof inverted, "%04x", static_cast<unsigned>(~alf_data_checksum(good.data) & 0xFFFF));
    auto block = [&](const std::string &path, const char *stored) {
        return "Opened ALF file " + path + ": \r\n"
               "    name=Offline\r\n"
               "    version=2.3.5\r\n"
               "    data_checksum=0x" + std::string(stored) + "\r\n"
               "    data_length=600W\r\n"
               "    oemCodes=< 0x0012 0x0034 >\r\n"
               "    blockCount=3\r\n";
    };
    const std::string banner = BANNER;
    const OfflineCase cases[] = {
        {"missing file", with_loopback({"-f", "missing.alf"}), banner,
         "Error: failed to open ALF file at missing.alf\r\n", 1},
        {"missing file in a test run", with_loopback({"-t", "-f", "missing.alf"}),
         banner + "# TEST RUN MODE\r\n", "Error: failed to open ALF file at missing.alf\r\n", 1},
        {"file shorter than the header", with_loopback({"-f", "short.alf"}),
         banner + "Opened ALF file short.alf: \r\n", "Error: Failed to read ALF header data\r\n", 1},
        {"one byte too many", with_loopback({"-f", "long.alf"}), banner + block("long.alf", checksum),
         "Error: ALF file length does not agree with header (expected=2260B actual=2261B)\r\n", 1},
        {"checksum", with_loopback({"-f", "bad.alf"}), banner + block("bad.alf", inverted),
         std::string("Error: data checksum is invalid (expected=0x") + inverted + " actual=0x" + checksum + ")\r\n", 1},
    };
    for (const OfflineCase &c : cases)
        check(c);
}

// The conversions the comparisons rely on.
TEST(WindowsForm, LineEndsAndLabel)
{
    const std::string linux_text = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\nA\n\nB\n";
    const std::string windows_text = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Win32)\r\nA\r\n\r\nB\r\n";
    EXPECT_EQ(windows_form(linux_text), windows_text);
    EXPECT_EQ(linux_form(windows_text), linux_text);
    // A bare LF or CR in Windows output is not hidden by the conversion.
    EXPECT_EQ(linux_form("A\nB\r"), "A\nB\r");
    // Only the banner's label is rewritten.
    EXPECT_EQ(linux_form("x Win32)\r\n"), "x Linux)\n");
    EXPECT_EQ(linux_form("a\r\nx Win32)\r\n"), "a\nx Win32)\n");
}

}  // namespace
