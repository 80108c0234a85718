// The Windows build under Wine against the virtual fixture: discovery and
// upload over loopback, and a broadcast discovery through the interface
// that GetAdaptersAddresses reports. Every case runs inside a pair of
// network namespaces the test makes and removes (root only; the loopback
// cases use only the controller side), with a Wine prefix
// whose wineserver, which owns the sockets, runs in that namespace. Each
// case runs the Linux build with the same arguments too: the reports must
// agree apart from the line ends, the platform label and the socket error
// numbers, which are each platform's own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "alfgen.h"
#include "netns.h"
#include "process.h"
#include "wine.h"

namespace {

const char LINUX_BANNER[] = "# Orvane Art-Net Fixture Firmware Update Utility (version 0.6 Linux)\n";
const char NO_ALF[] = "# No ALF file supplied with -f, performing fixture poll without update.\n";
const char SEPARATOR[] = "########################################\n";

std::string vfixture()
{
    return bin_path("vfixture");
}

// The fixture block of a vfixture fixture with its defaults, bound to
// `address`, whose MAC is 02:00 followed by `mac_tail`.
std::string fixture_block(const std::string &address, const std::string &mac_tail)
{
    return "Fixture detected:\n"
           "    ip=" + address + "\n"
           "    mac=02:00:" + mac_tail + "\n"
           "    estaMan=0x4d2a\n"
           "    oemCode=0x4d2a\n"
           "    version=1.0.0\n"
           "    portName=vfixture\n"
           "    longName=Virtual fixture " + address + "\n";
}

// A virtual fixture process inside a namespace, stopped by the destructor.
class FixtureProcess {
public:
    FixtureProcess(const std::vector<std::string> &in_namespace, const std::vector<std::string> &args,
                   const std::string &log)
        : log_(log)
    {
        std::vector<std::string> argv = in_namespace;
        argv.push_back(vfixture());
        argv.insert(argv.end(), args.begin(), args.end());
        process_ = start_background(argv, log_);
    }
    ~FixtureProcess() { stop_background(&process_); }
    FixtureProcess(const FixtureProcess &) = delete;
    FixtureProcess &operator=(const FixtureProcess &) = delete;

    // Waits for the "ready" line, up to five seconds.
    bool ready() const
    {
        for (int i = 0; i < 500; ++i) {
            if (read_text_file(log_).find("ready ") != std::string::npos)
                return true;
            usleep(10000);
        }
        return false;
    }
    std::string log() const { return read_text_file(log_); }

private:
    std::string log_;
    BackgroundProcess process_;
};

class WindowsNetwork : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = wine_unavailable_reason();
        if (!reason.empty())
            GTEST_SKIP() << reason;
        const std::string no_netns = netns_unavailable_reason();
        if (!no_netns.empty())
            GTEST_SKIP() << no_netns << " (the Windows build is never run on the machine's own network)";
        if (access(vfixture().c_str(), X_OK) != 0)
            GTEST_SKIP() << vfixture() << " is not built";
        dir_ = make_temp_dir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override
    {
        if (!dir_.empty())
            remove_tree(dir_);
    }

    // Runs the Windows build, then the Linux build, with `args` in the
    // controller namespace, each against a fresh virtual fixture started
    // with `fixture_args` in the fixtures namespace, or in the controller's
    // for loopback (an upload changes the fixture's version). In the
    // fixture arguments "{build}" stands for "windows" or "linux".
    void run_both(const NetnsPair &net, bool loopback, const std::vector<std::string> &fixture_args,
                  const std::vector<std::string> &args, ProcessResult *win, ProcessResult *lin)
    {
        const std::vector<std::string> fixture_side = loopback ? net.in_controller() : net.in_fixtures();
        {
            FixtureProcess fixture(fixture_side, for_build(fixture_args, "windows"), dir_ + "/vfixture-windows.log");
            ASSERT_TRUE(fixture.ready()) << fixture.log();
            WineSession session(net.controller);
            ASSERT_TRUE(session.error().empty()) << session.error();
            *win = session.run(args, dir_);
        }
        FixtureProcess fixture(fixture_side, for_build(fixture_args, "linux"), dir_ + "/vfixture-linux.log");
        ASSERT_TRUE(fixture.ready()) << fixture.log();
        *lin = run_program(linux_lumiload(), args, 60, net.in_controller(), dir_);
    }

    static std::vector<std::string> for_build(std::vector<std::string> args, const std::string &build)
    {
        const std::string mark = "{build}";
        for (std::string &arg : args) {
            const size_t at = arg.find(mark);
            if (at != std::string::npos)
                arg.replace(at, mark.size(), build);
        }
        return args;
    }

    std::string dir_;
};

TEST_F(WindowsNetwork, LoopbackDiscoveryOfOneFixture)
{
    NetnsPair net;
    ASSERT_TRUE(net.create({}, {})) << net.error;
    ProcessResult win, lin;
    run_both(net, true, {"--fixture", "bind=127.0.0.2"}, {"-s", "127.0.0.1", "-d", "127.0.0.2"}, &win, &lin);

    const std::string expected =
        std::string(LINUX_BANNER) + NO_ALF + fixture_block("127.0.0.2", "7f:00:00:02") + "\n";
    EXPECT_EQ(win.out, windows_form(expected));
    EXPECT_EQ(win.err, "");
    EXPECT_EQ(win.status, 1);  // a poll-only run always ends with 1
    EXPECT_EQ(linux_form(win.out), lin.out);
    EXPECT_EQ(lin.err, "");
    EXPECT_EQ(lin.status, 1);
}

class WindowsUpload : public WindowsNetwork {
protected:
    // A three-block image (600 words) of version 2.3.5 for the maker's own
    // OEM code, which every default vfixture (1.0.0) needs.
    std::vector<uint8_t> write_image()
    {
        AlfImageSpec spec;
        spec.name = "Wine upload";
        spec.version_hi = 2;
        spec.version_lo = 35;
        spec.oem_slots = {0x4D2A};
        spec.data = pseudo_random_data(600, 11);
        const std::vector<uint8_t> image = make_alf_image(spec);
        EXPECT_TRUE(write_binary_file(dir_ + "/fw.alf", image));
        return image;
    }

    // Everything an update run of that image prints up to its progress
    // line, Linux form.
    std::string report_until_progress(const std::vector<uint8_t> &image)
    {
        char checksum[40];
        std::snprintf(checksum, sizeof checksum, "    data_checksum=0x%02x%02x\n", image[0], image[1]);
        return std::string(LINUX_BANNER) + "Opened ALF file fw.alf: \n"
               "    name=Wine upload\n"
               "    version=2.3.5\n" + checksum +
               "    data_length=600W\n"
               "    oemCodes=< 0x4d2a >\n"
               "    blockCount=3\n" + SEPARATOR + fixture_block("127.0.0.2", "7f:00:00:02") +
               "    upgradeStatus=upgrade-required\n"
               "\n"
               "1 fixtures to update\n" + SEPARATOR + "Uploading to fixture at 127.0.0.2:\n"
               "    blockCount=3\n";
    }
};

TEST_F(WindowsUpload, LoopbackUploadOfThreeBlocks)
{
    const std::vector<uint8_t> image = write_image();
    NetnsPair net;
    ASSERT_TRUE(net.create({}, {})) << net.error;
    ProcessResult win, lin;
    run_both(net, true, {"--fixture", "bind=127.0.0.2,image=" + dir_ + "/received-{build}.alf"},
             {"-f", "fw.alf", "-s", "127.0.0.1", "-d", "127.0.0.2"}, &win, &lin);

    const std::string expected = report_until_progress(image) + "    progress=F - LG\n"
                                 "# Firmware uploaded successfully\n";
    EXPECT_EQ(win.out, windows_form(expected));
    EXPECT_EQ(win.err, "");
    EXPECT_EQ(win.status, 0);
    // The fixture holds exactly the file: the Windows build reads it in
    // binary mode although its standard streams are in text mode.
    EXPECT_EQ(read_text_file(dir_ + "/received-windows.alf"), std::string(image.begin(), image.end()));

    EXPECT_EQ(linux_form(win.out), lin.out);
    EXPECT_EQ(lin.err, "");
    EXPECT_EQ(lin.status, 0);
}

// A reply longer than the 36-byte buffer: Windows Sockets fail the receive
// with WSAEMSGSIZE (10040) and lose the datagram, the block times out once
// and is sent again. Linux reports its own EMSGSIZE (90) in the same place.
TEST_F(WindowsUpload, OversizeReplyIsLostAndReported)
{
    const std::vector<uint8_t> image = write_image();
    NetnsPair net;
    ASSERT_TRUE(net.create({}, {})) << net.error;
    ProcessResult win, lin;
    run_both(net, true, {"--fixture", "bind=127.0.0.2,fault=1:oversize=40"},
             {"-f", "fw.alf", "-s", "127.0.0.1", "-d", "127.0.0.2"}, &win, &lin);

    const std::string expected = report_until_progress(image) + "    progress=F -T LG\n"
                                 "# Firmware uploaded successfully\n";
    EXPECT_EQ(win.out, windows_form(expected));
    EXPECT_EQ(win.err, "\r\n[WSA ERROR 10040]\r\n");
    EXPECT_EQ(win.status, 0);
    EXPECT_EQ(linux_form(win.out), lin.out);
    EXPECT_EQ(lin.err, "\n[WSA ERROR 90]\n");
    EXPECT_EQ(lin.status, 0);
}

// A dropped reply: the 50 ms receive time-out (WSAETIMEDOUT, 10060) is the
// silent kind of failed receive, so only the mark shows it.
TEST_F(WindowsUpload, DroppedReplyTimesOutSilently)
{
    const std::vector<uint8_t> image = write_image();
    NetnsPair net;
    ASSERT_TRUE(net.create({}, {})) << net.error;
    ProcessResult win, lin;
    run_both(net, true, {"--fixture", "bind=127.0.0.2,fault=first:drop*2"},
             {"-f", "fw.alf", "-s", "127.0.0.1", "-d", "127.0.0.2"}, &win, &lin);

    const std::string expected = report_until_progress(image) + "    progress=FTT - LG\n"
                                 "# Firmware uploaded successfully\n";
    EXPECT_EQ(win.out, windows_form(expected));
    EXPECT_EQ(win.err, "");
    EXPECT_EQ(win.status, 0);
    // Two first-block attempts of 40 time-outs of 50 ms each.
    EXPECT_GE(win.seconds, 4.0);
    EXPECT_EQ(linux_form(win.out), lin.out);
    EXPECT_EQ(lin.err, "");
}

// The console's interface and the two fixtures' addresses on the veth pair.
const std::vector<std::string> CONSOLE_ADDRESSES = {"2.0.0.2/8"};
const std::vector<std::string> FIXTURE_ADDRESSES = {"2.0.0.20/8", "2.0.0.21/8"};

// Two fixtures that answer a broadcast poll, the first by unicast, the
// second by broadcast.
const std::vector<std::string> TWO_FIXTURES = {"--fixture", "bind=2.0.0.20,bcast=2.255.255.255", "--fixture",
                                               "bind=2.0.0.21,bcast=2.255.255.255,reply=broadcast"};

// The report of a poll-only run that found both, in either order (they
// answer the same poll), or an empty text.
std::string two_fixture_report(const std::string &text)
{
    const std::string head = std::string(LINUX_BANNER) + NO_ALF;
    const std::string first = fixture_block("2.0.0.20", "02:00:00:14");
    const std::string second = fixture_block("2.0.0.21", "02:00:00:15");
    if (text == head + first + second + "\n" || text == head + second + first + "\n")
        return text;
    return "";
}

// The whole discovery stage without -s and -d: the interface comes from
// GetAdaptersAddresses, the poll goes to its broadcast address, and the
// socket bound to the interface's address hears both the unicast and the
// broadcast reply.
TEST_F(WindowsNetwork, BroadcastDiscoveryThroughTheChosenInterface)
{
    NetnsPair net;
    ASSERT_TRUE(net.create(CONSOLE_ADDRESSES, FIXTURE_ADDRESSES)) << net.error;

    ProcessResult win, lin;
    run_both(net, false, TWO_FIXTURES, {}, &win, &lin);

    const std::string text = linux_form(win.out);
    EXPECT_EQ(two_fixture_report(text), text) << text;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(win.out, windows_form(text));
    EXPECT_EQ(win.err, "");
    EXPECT_EQ(win.status, 1);
    EXPECT_EQ(two_fixture_report(lin.out), lin.out) << lin.out;
    EXPECT_EQ(lin.status, 1);
}

// Sixty adapters beside the Art-Net one: their table no longer fits the
// first 15000-byte buffer, GetAdaptersAddresses answers
// ERROR_BUFFER_OVERFLOW with the size it needs, and the enumeration must
// ask again with that size instead of failing the run with "getifaddrs".
TEST_F(WindowsNetwork, ManyAdaptersOverflowTheFirstAdapterBuffer)
{
    NetnsPair net;
    ASSERT_TRUE(net.create(CONSOLE_ADDRESSES, FIXTURE_ADDRESSES)) << net.error;
    // Thirty veth pairs with both ends in the console's namespace.
    std::string commands;
    for (int i = 1; i <= 30; ++i) {
        const std::string n = std::to_string(i);
        commands += "link add va" + n + " type veth peer name vb" + n + "\n"
                    "addr add 10.0." + n + ".1/24 dev va" + n + "\n"
                    "addr add 10.1." + n + ".1/24 dev vb" + n + "\n"
                    "link set va" + n + " up\n"
                    "link set vb" + n + " up\n";
    }
    ASSERT_TRUE(write_text_file(dir_ + "/adapters.batch", commands));
    ASSERT_EQ(run_program(ip_program(), {"-n", net.controller, "-batch", dir_ + "/adapters.batch"}, 60).status, 0);

    ProcessResult win, lin;
    run_both(net, false, TWO_FIXTURES, {}, &win, &lin);

    const std::string text = linux_form(win.out);
    EXPECT_EQ(two_fixture_report(text), text) << text;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(win.err, "");
    EXPECT_EQ(win.status, 1);
    EXPECT_EQ(two_fixture_report(lin.out), lin.out) << lin.out;
}

// An adapter that is up but has no IPv4 address (an unplugged or
// unconfigured card) is left out; the others are still chosen from.
TEST_F(WindowsNetwork, AdapterWithoutAddressIsLeftOut)
{
    NetnsPair net;
    ASSERT_TRUE(net.create(CONSOLE_ADDRESSES, FIXTURE_ADDRESSES)) << net.error;
    ASSERT_TRUE(write_text_file(dir_ + "/bare.batch", "link add bare0 type veth peer name bare1\n"
                                                      "link set bare0 up\n"
                                                      "link set bare1 up\n"));
    ASSERT_EQ(run_program(ip_program(), {"-n", net.controller, "-batch", dir_ + "/bare.batch"}, 60).status, 0);

    ProcessResult win, lin;
    run_both(net, false, TWO_FIXTURES, {}, &win, &lin);

    const std::string text = linux_form(win.out);
    EXPECT_EQ(two_fixture_report(text), text) << text;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(win.err, "");
    EXPECT_EQ(win.status, 1);
}

// An accepted image and nobody answering: the header block, the
// separator, the end of discovery, and the update stage gives up.
TEST_F(WindowsUpload, AcceptedImageWithoutFixture)
{
    const std::vector<uint8_t> image = write_image();
    NetnsPair net;
    ASSERT_TRUE(net.create({}, {})) << net.error;
    const std::vector<std::string> args = {"-t", "-f", "fw.alf", "-s", "127.0.0.1", "-d", "127.0.0.2"};
    WineSession session(net.controller);
    ASSERT_TRUE(session.error().empty()) << session.error();
    const ProcessResult win = session.run(args, dir_);
    const ProcessResult lin = run_program(linux_lumiload(), args, 60, net.in_controller(), dir_);

    const std::string until_fixture = report_until_progress(image).substr(0, report_until_progress(image).find("Fixture detected:"));
    std::string expected = until_fixture + "\n";
    expected.insert(std::string(LINUX_BANNER).size(), "# TEST RUN MODE\n");
    EXPECT_EQ(win.out, windows_form(expected));
    EXPECT_EQ(win.err, "Error: no fixture to update.\r\n");
    EXPECT_EQ(win.status, 1);
    EXPECT_EQ(linux_form(win.out), lin.out);
    EXPECT_EQ(linux_form(win.err), lin.err);
    EXPECT_EQ(lin.status, 1);
}

}  // namespace
