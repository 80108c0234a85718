// lumiload.exe under Wine, every run compared with the Linux build: the
// Windows report must be the Linux report with CR LF line ends and the
// banner's " Win32" label, byte for byte, on both streams, apart from the
// socket error numbers, which are each platform's own.
//
// Wine makes Windows Sockets calls with host sockets created by the
// prefix's wineserver, so they live in the namespace that wineserver
// started in: each session has its own prefix (a clone of a shared one)
// and its own wineserver, started in the namespace of its runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <future>
#include <regex>

#include "harness.h"
#include "wine.h"

namespace {

// A Linux report as the Windows build prints it.
std::string windows_form(std::string text)
{
    if (text.rfind(BANNER, 0) == 0)
        text.replace(BANNER.size() - 8, 6, " Win32");
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    return crlf;
}

// The errors of a run whose port another program holds, with the holder's
// line when it is named; PIDs masked by `masked`. Both builds give the same
// reason (Windows in the words Linux uses, not perror's "No error").
std::string port_taken(const std::string &holder)
{
    return "Error: Failed to bind UDP socket: Address already in use\n" +
           (holder.empty() ? "" : "    Port 6454 is in use by " + holder + " (pid *).\n") + "Error: run_poll failed\n";
}
std::string masked(const std::string &err) { return std::regex_replace(err, std::regex("(\\(pid )[0-9]+"), "$1*"); }

struct NetworkRow {
    const char *name;
    std::vector<std::string> args;
    std::string expect;  // in the Linux report
    std::string linux_err, windows_err;
    int status;
};

// The runs that end before the network in any case; the network runs where
// namespaces can be made, against virtual fixtures on a veth pair.
TEST(Windows, RunsMatchTheLinuxBuild)
{
    if (!wine_unavailable_reason().empty())
        GTEST_SKIP() << wine_unavailable_reason();
    if (access(LUMI_WINDOWS_EXE, R_OK) != 0)
        GTEST_SKIP() << LUMI_WINDOWS_EXE << " is missing: cross-build it with scripts/build_windows.sh";
    const std::string no_network = netns_unavailable_reason();
    const TempDir temp;
    const std::string &dir = temp.path;
    // The fixtures' own version: an upload changes nothing a later run reports.
    const std::vector<uint8_t> image = write_image(dir + "/fw.alf", 1, 0, 600, 11);
    Netns net;
    VirtualFixtures fixtures;
    if (no_network.empty()) {
        ASSERT_TRUE(net.up("2.0.0.2/8", {"2.0.0.21/8", "2.0.0.22/8", "2.0.0.23/8", "2.0.0.24/8", "2.0.0.50/8"}))
            << net.error;
        // Thirty adapters more than fit GetAdaptersAddresses' first buffer, and
        // one without an address; the Art-Net adapter must still be chosen.
        std::string adapters = "link add bare0 type veth peer name bare1\nlink set bare0 up\nlink set bare1 up\n";
        for (int i = 1; i <= 30; ++i) {
            const std::string n = std::to_string(i);
            adapters += "link add va" + n + " type veth peer name vb" + n + "\naddr add 10.0." + n + ".1/24 dev va" + n +
                        "\naddr add 10.1." + n + ".1/24 dev vb" + n + "\nlink set va" + n + " up\nlink set vb" + n + " up\n";
        }
        ASSERT_TRUE(net.batch("c", adapters)) << net.error;
        ASSERT_TRUE(fixtures.start(dir, {"bind=2.0.0.21,bcast=2.255.255.255,reply=broadcast",
                                         "bind=2.0.0.22,image=" + dir + "/received.alf", "bind=2.0.0.23,fault=1:oversize=40",
                                         "bind=2.0.0.24,fault=middle:drop"}, net.in("f"))) << fixtures.error;
    }
    const WineSession wine(no_network.empty() ? net.name + "-c" : "");
    ASSERT_EQ(wine.error, "");

    for (const OfflineCase &c : offline_cases(dir)) {
        if (!c.windows)
            continue;
        SCOPED_TRACE(c.name);
        const ProcessResult r = wine.run(LUMI_WINDOWS_EXE, c.args, dir);
        EXPECT_EQ(r.out, windows_form(c.out));
        EXPECT_EQ(r.err, windows_form(c.err));
        EXPECT_EQ(r.status, c.status);
    }
    // Wine attributes only its own processes' sockets: the port held by a
    // Linux program, which the Linux build names, shows no holder.
    const std::vector<std::string> here = no_network.empty() ? net.in("c") : std::vector<std::string>();
    const std::vector<std::string> taken = {"-s", "127.0.63.1", "-d", "127.0.63.2"};
    VirtualFixtures other;
    ASSERT_TRUE(other.start(dir, {"bind=127.0.63.1"}, here)) << other.error;
    EXPECT_EQ(masked(run_program(bin_path("lumiload"), taken, 30, here, dir).err), port_taken("vfixture"));
    EXPECT_EQ(masked(wine.run(LUMI_WINDOWS_EXE, taken, dir).err), windows_form(port_taken("")));
    other.stop();
    if (!no_network.empty())
        GTEST_SKIP() << "network runs: " << no_network << " (the Windows build never uses the machine's network)";
    // All the while a console at 2.0.0.50 sends the controller ArtDmx frames
    // too long for any buffer; Windows Sockets name their sender too, so they
    // are dropped as foreign, and the reports stay those of a quiet network.
    std::vector<std::string> console = net.in("f");
    console.insert(console.end(), {bin_path("artnet_traffic"), "--to", "2.0.0.2", "--from", "2.0.0.50", "--seconds", "120"});
    const int flood = start_background(console, dir + "/console.log");

    const std::string ok = "# Firmware uploaded successfully\n";
    auto upload = [](const char *fixture) { return std::vector<std::string> {"-i", "-f", "fw.alf", "-s", "2.0.0.2", "-d", fixture}; };
    const NetworkRow rows[] = {
        {"poll of one fixture", {"-s", "2.0.0.2", "-d", "2.0.0.22"}, fixture_block("2.0.0.22") + "\n", "", "", 1},
        // The image is read in binary mode although the streams are in text mode.
        {"upload", upload("2.0.0.22"), "    progress=F - LG\n" + ok, "", "", 0},
        // Windows Sockets fail a receive into a buffer too small (10040); the time-out (10060) is silent.
        {"oversize reply", upload("2.0.0.23"), "    progress=F -T LG\n" + ok, "\n[WSA ERROR 90]\n",
         "\r\n[WSA ERROR 10040]\r\n", 0},
        {"lost reply", upload("2.0.0.24"), "    progress=F -T LG\n" + ok, "", "", 0},
        // The adapter from GetAdaptersAddresses; its socket hears a broadcast reply.
        {"broadcast discovery", {}, fixture_block("2.0.0.21") + "\n", "", "", 1},
    };
    for (const NetworkRow &row : rows) {
        SCOPED_TRACE(row.name);
        const ProcessResult lin = run_program(bin_path("lumiload"), row.args, 60, net.in("c"), dir);
        const ProcessResult win = wine.run(LUMI_WINDOWS_EXE, row.args, dir);
        EXPECT_NE(lin.out.find(row.expect), std::string::npos) << lin.out;
        EXPECT_EQ(win.out, windows_form(lin.out));
        EXPECT_EQ(lin.err, row.linux_err);
        EXPECT_EQ(win.err, row.windows_err);
        EXPECT_EQ(lin.status, row.status);
        EXPECT_EQ(win.status, row.status);
    }
    // The network check finds the fixture that hears broadcasts under Windows too and reads the firewall
    // through its API, whose stand-in under Wine cannot tell the profiles: said, and no problem.
    const ProcessResult check = wine.run(LUMI_WINDOWS_EXE, {"-N", "-s", "2.0.0.2"}, dir);
    EXPECT_NE(check.out.find("port 6454 free; 1 fixture answers\r\n    2.0.0.21 02:00:02:00:00:15"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("# Firewall: could not be checked: the Windows Firewall API answered 0x8000"), std::string::npos) << check.out;
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    stop_background(flood);
    unsigned long frames = 0;
    std::sscanf(read_text_file(dir + "/console.log").c_str(), "sent %lu", &frames);
    EXPECT_GT(frames, 440u) << "the console sent less than a second's frames";
    EXPECT_EQ(read_text_file(dir + "/received.alf"), std::string(image.begin(), image.end()));

    // While one lumiload.exe listens, both builds name it (Wine binds it to every address, so only here
    // where nothing else holds the port): Windows by its image, Linux by the name Wine gives the process.
    const std::vector<std::string> listen = {"-s", "2.0.0.2", "-d", "2.0.0.99"};
    auto first = std::async(std::launch::async, [&] { return wine.run(LUMI_WINDOWS_EXE, listen, dir); });
    for (int i = 0; i < 1000 && run_program("grep", {"-q", ":1936 ", "/proc/net/udp"}, 10, net.in("c")).status; ++i)
        usleep(10000);
    EXPECT_EQ(masked(run_program(bin_path("lumiload"), listen, 30, net.in("c"), dir).err), port_taken("lumiload.exe"));
    EXPECT_EQ(masked(wine.run(LUMI_WINDOWS_EXE, listen, dir).err), windows_form(port_taken("lumiload.exe")));
    EXPECT_EQ(first.get().err, "");
}

}  // namespace
