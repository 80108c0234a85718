// lumiload end to end on loopback, no root needed: each case runs the real
// lumiload against a vfixture on its own 127.x address (lumiload binds
// -s 127.T.G.1, the fixture 127.T.G.11), so cases run side by side, in
// threads here and in parallel ctest processes. Every run names both -s
// and -d, so nothing is ever sent beyond loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <functional>

#include "e2e_support.h"

namespace {

struct TempDir {
    std::string path = make_temp_dir();
    ~TempDir() { remove_tree(path); }
};

// Runs `cases` at once, each in its own thread, and returns their results
// in order; the assertions are made afterwards in the test's thread.
template <typename Result>
std::vector<Result> run_side_by_side(size_t cases, const std::function<Result(size_t)> &one)
{
    std::vector<std::future<Result>> running;
    for (size_t i = 0; i < cases; ++i)
        running.push_back(std::async(std::launch::async, one, i));
    std::vector<Result> results;
    for (auto &r : running)
        results.push_back(r.get());
    return results;
}

struct CaseRun {
    ProcessResult lumiload;
    std::string fixture_log;
    std::string received;   // the image vfixture wrote, if any
    std::string setup_error;
};

// One vfixture at `fixture` playing `spec` (bind and image keys added),
// then one lumiload with `args` followed by -s `controller` -d `fixture`.
CaseRun run_case(const std::string &controller, const std::string &fixture, const std::string &spec,
             const std::vector<std::string> &args)
{
    CaseRun run;
    TempDir dir;
    VirtualFixtures vf;
    std::string full = "bind=" + fixture + ",image=" + dir.path + "/received.alf" + (spec.empty() ? "" : "," + spec);
    if (!vf.start(dir.path, {full})) {
        run.setup_error = vf.error;
        return run;
    }
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-s", controller, "-d", fixture});
    run.lumiload = run_lumiload(all);
    run.fixture_log = vf.stop();
    run.received = read_text_file(dir.path + "/received.alf");
    return run;
}

std::string bytes_text(const std::vector<uint8_t> &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

struct PollCase {
    std::string spec;        // vfixture keys; "none" = no fixture at all
    std::string block;       // expected fixture block, "" = none listed
};

TEST(Loopback, PollOnlyReports)
{
    const int T = 21;
    auto fixture = [&](int g) { return loopback(T, g, 11); };
    FixtureLines names = default_fixture(fixture(1));
    names.port_name = "AB?CDEFGHIJKLMNOP";   // 18 bytes sent, no terminator, 17 shown, control bytes as '?'
    names.long_name = "Spot? 1??";
    FixtureLines other_ip = default_fixture(fixture(2));
    other_ip.ip = "10.1.2.3";                // the IP Address field, not the sender
    other_ip.mac = "aa:bb:cc:00:01:ff";
    other_ip.esta = "0x2a4d";
    other_ip.oem = "0x1234";
    other_ip.version = "1.25.5";
    FixtureLines short_reply = default_fixture(fixture(3));
    short_reply.version = "1.0.9";
    const std::vector<PollCase> cases = {
        {"", fixture_block(default_fixture(fixture(0)))},
        {"short=AB\\x01CDEFGHIJKLMNOP\\x1f,long=Spot\\x7f 1\\x02\\x1b", fixture_block(names)},
        {"ip=10.1.2.3,mac=aa:bb:cc:00:01:ff,esta=0x2a4d,oem=0x1234,version-bytes=1:255", fixture_block(other_ip)},
        {"length=207,version-bytes=1:9", fixture_block(short_reply)},
        {"length=206", ""},                                              // too short: ignored
        {"alt=" + loopback(T, 5, 21) + ",poll-from=alt", ""},            // answers from another address
        {"none", ""},                                                    // nobody there
    };
    std::vector<CaseRun> runs = run_side_by_side<CaseRun>(cases.size(), [&](size_t i) {
        const std::string controller = loopback(T, static_cast<int>(i), 1);
        if (cases[i].spec == "none") {
            CaseRun run;
            run.lumiload = run_lumiload({"-s", controller, "-d", fixture(static_cast<int>(i))});
            return run;
        }
        return run_case(controller, fixture(static_cast<int>(i)), cases[i].spec, {});
    });
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].spec);
        ASSERT_EQ(runs[i].setup_error, "");
        EXPECT_EQ(runs[i].lumiload.out, banner() + no_alf_line() + cases[i].block + "\n");
        EXPECT_EQ(runs[i].lumiload.err, "");
        EXPECT_EQ(runs[i].lumiload.status, 1) << "a poll-only run always ends with status 1";
        if (cases[i].spec != "none") {
            EXPECT_EQ(lines_with(runs[i].fixture_log, "poll from " + loopback(T, static_cast<int>(i), 1)).size(), 1u)
                << "the fixture answered exactly one poll\n" << runs[i].fixture_log;
        }
    }
}

struct VerdictCase {
    std::string spec;
    std::vector<std::string> options;
    std::string status_word;
    bool selected;   // upgrade-required: listed and skipped by -t
};

TEST(Loopback, UpdateVerdictsAndTestRun)
{
    const int T = 22;
    TempDir dir;
    const std::string image = dir.path + "/fw.alf";
    const std::vector<uint8_t> bytes = write_image(image, image_spec(1, 23, 600));   // version 1.2.3
    const std::vector<VerdictCase> cases = {
        {"version=1.2.3", {}, "up-to-date", false},
        {"version=1.3.0", {}, "up-to-date", false},                         // newer: never downgraded
        {"version=1.2.3", {"-i", "-t"}, "upgrade-required", true},
        {"version=1.2.2", {"-t"}, "upgrade-required", true},
        {"oem=0x1234", {"-i"}, "incompatible", false},                      // -i never lifts this
        {"esta=0x2a4d", {}, "incompatible", false},                         // maker code bytes swapped
    };
    std::vector<CaseRun> runs = run_side_by_side<CaseRun>(cases.size(), [&](size_t i) {
        std::vector<std::string> args = cases[i].options;
        args.insert(args.end(), {"-f", image});
        return run_case(loopback(T, static_cast<int>(i), 1), loopback(T, static_cast<int>(i), 11), cases[i].spec, args);
    });
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].spec);
        ASSERT_EQ(runs[i].setup_error, "");
        const std::string address = loopback(T, static_cast<int>(i), 11);
        FixtureLines f = default_fixture(address, cases[i].status_word);
        if (cases[i].spec.rfind("version=", 0) == 0)
            f.version = cases[i].spec.substr(8);
        if (cases[i].spec == "oem=0x1234")
            f.oem = "0x1234";
        if (cases[i].spec == "esta=0x2a4d")
            f.esta = "0x2a4d";
        bool test_run = std::find(cases[i].options.begin(), cases[i].options.end(), "-t") != cases[i].options.end();
        std::string expected = banner() + (test_run ? "# TEST RUN MODE\n" : "") + header_report(image, bytes) +
                               separator() + fixture_block(f) + "\n";
        if (cases[i].selected) {
            expected += "1 fixtures to update\n" + separator() + "Skipped update of fixture at " + address +
                        " due to -t flag\n";
            EXPECT_EQ(runs[i].lumiload.err, "");
            EXPECT_EQ(runs[i].lumiload.status, 0);
        } else {
            EXPECT_EQ(runs[i].lumiload.err, "Error: no fixture to update.\n");
            EXPECT_EQ(runs[i].lumiload.status, 1);
        }
        EXPECT_EQ(runs[i].lumiload.out, expected);
        EXPECT_TRUE(lines_with(runs[i].fixture_log, " block ").empty()) << "nothing may be uploaded\n"
                                                                         << runs[i].fixture_log;
    }
}

TEST(Loopback, UploadDeliversTheImageAndTheFixtureReportsItsVersion)
{
    const int T = 23;
    TempDir dir;
    const std::string image = dir.path + "/fw.alf";
    const std::vector<uint8_t> bytes = write_image(image, image_spec(2, 17, 1300, 7));   // 4 blocks, 2.1.7
    ASSERT_EQ(block_count(bytes), 4u);
    const std::string controller = loopback(T, 0, 1), address = loopback(T, 0, 11);
    VirtualFixtures vf;
    ASSERT_TRUE(vf.start(dir.path, {"bind=" + address + ",image=" + dir.path + "/received.alf"})) << vf.error;

    ProcessResult upload = run_lumiload({"-i", "-f", image, "-m", "-s", controller, "-d", address});
    EXPECT_EQ(upload.out, update_report(image, bytes, default_fixture(address, "upgrade-required"),
                                        "F - - LG\n# Firmware uploaded successfully\n"));
    EXPECT_EQ(upload.err, "");
    EXPECT_EQ(upload.status, 0);
    EXPECT_EQ(read_text_file(dir.path + "/received.alf"), bytes_text(bytes)) << "the image must arrive byte-exact";

    // As after a reboot, the fixture now reports the image's version.
    FixtureLines updated = default_fixture(address);
    updated.version = "2.1.7";
    ProcessResult poll = run_lumiload({"-s", controller, "-d", address});
    EXPECT_EQ(poll.out, banner() + no_alf_line() + fixture_block(updated) + "\n");
    ProcessResult again = run_lumiload({"-f", image, "-s", controller, "-d", address});
    EXPECT_EQ(again.err, "Error: no fixture to update.\n");
    EXPECT_EQ(again.status, 1);

    std::string log = vf.stop();
    EXPECT_EQ(lines_with(log, "upload complete version=2.1.7").size(), 1u) << log;
    EXPECT_TRUE(lines_with(log, "error").empty()) << log;
}

TEST(Loopback, LongUploadWrapsTheBlockId)
{
    const int T = 24;
    TempDir dir;
    const std::string image = dir.path + "/fw.alf";
    // 258 blocks: the blocks with index 256 and 257 carry BlockId 0 and 1.
    const std::vector<uint8_t> bytes = write_image(image, image_spec(3, 0, 258 * 512 - 530 - 100, 3));
    ASSERT_EQ(block_count(bytes), 258u);
    std::string marks = "F ";
    for (int i = 0; i < 256; ++i)
        marks += "- ";
    CaseRun run = run_case(loopback(T, 0, 1), loopback(T, 0, 11), "", {"-f", image});
    ASSERT_EQ(run.setup_error, "");
    EXPECT_EQ(run.lumiload.out, update_report(image, bytes, default_fixture(loopback(T, 0, 11), "upgrade-required"),
                                              marks + "LG\n# Firmware uploaded successfully\n"));
    EXPECT_EQ(run.lumiload.status, 0);
    EXPECT_EQ(run.received, bytes_text(bytes));
    EXPECT_EQ(lines_with(run.fixture_log, "block 256 type=1 id=0 len=").size(), 1u) << run.fixture_log;
    EXPECT_TRUE(lines_with(run.fixture_log, "error").empty()) << run.fixture_log;
}

struct MarksCase {
    std::string spec;      // fault script and other vfixture keys
    uint32_t words;        // image data length
    std::string tail;      // stdout from the progress marks on
    std::string err;       // whole standard error
    int status;
};

TEST(Loopback, ProgressMarksRetriesAndFailures)
{
    const int T = 25;
    const std::string ok = "# Firmware uploaded successfully\n";
    const std::string failed = "Error: Firmware upload failed.\n";
    const uint32_t three = 1000, four = 1300;
    const std::vector<MarksCase> cases = {
        {"", three, "F - LG\n" + ok, "", 0},
        {"fault=middle:drop", three, "F -T LG\n" + ok, "", 0},
        {"fault=1:drop", four, "F -T - LG\n" + ok, "", 0},
        {"fault=first:drop", three, "FT - LG\n" + ok, "", 0},
        {"fault=last:type=good", three, "F - L \n" + ok, "", 0},
        {"fault=middle:delay=20", three, "F - LG\n" + ok, "", 0},
        {"fault=last:delay=1000", three, "F - LG\n" + ok, "", 0},
        // A datagram longer than the 36-byte buffer is a failed receive; the
        // platform's error number (EMSGSIZE here) is printed.
        {"fault=middle:oversize=40", three, "F -T LG\n" + ok, "\n[WSA ERROR 90]\n", 0},
        {"fault=middle:proto=13", three, "F -T LG\n" + ok, "    Reply has unexpected artnet protocol version\n", 0},
        {"fault=middle:type=allgood", three, "F -B\n\n", "    Error: unexpected reply type=1\n" + failed, 1},
        {"fault=first:type=allgood", three, "FB\n\n", "    Error: unexpected reply type=1\n" + failed, 1},
        {"fault=middle:type=fail", three, "F -B\n\n", "    Error: unexpected reply type=255\n" + failed, 1},
        {"fault=middle:type=7", three, "F -B\n\n", "    Error: unexpected reply type=7\n" + failed, 1},
        {"fault=middle:drop*3", three, "F -TTT\n\n", failed, 1},
        {"fault=first:drop*3", three, "FTTT\n\n", failed, 1},
        {"alt=ALT,fault=all:alt*all", three, "FTTT\n\n", failed, 1},   // replies from another address
    };
    std::vector<std::vector<uint8_t>> images(cases.size());
    std::vector<std::string> paths(cases.size());
    TempDir dir;
    std::vector<CaseRun> runs = run_side_by_side<CaseRun>(cases.size(), [&](size_t i) {
        const int g = static_cast<int>(i);
        paths[i] = dir.path + "/fw" + std::to_string(i) + ".alf";
        images[i] = write_image(paths[i], image_spec(1, 1, cases[i].words, static_cast<uint32_t>(i) + 1));
        std::string spec = cases[i].spec;
        size_t alt = spec.find("ALT");
        if (alt != std::string::npos)
            spec.replace(alt, 3, loopback(T, g, 21));
        return run_case(loopback(T, g, 1), loopback(T, g, 11), spec, {"-f", paths[i]});
    });
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].spec);
        ASSERT_EQ(runs[i].setup_error, "");
        const std::string address = loopback(T, static_cast<int>(i), 11);
        EXPECT_EQ(runs[i].lumiload.out,
                  update_report(paths[i], images[i], default_fixture(address, "upgrade-required"), cases[i].tail));
        EXPECT_EQ(runs[i].lumiload.err, cases[i].err);
        EXPECT_EQ(runs[i].lumiload.status, cases[i].status);
        if (cases[i].status == 0) {
            EXPECT_EQ(runs[i].received, bytes_text(images[i])) << "the image must arrive byte-exact";
        } else {
            EXPECT_EQ(runs[i].received, "") << "no image is complete after a failed upload";
        }
        EXPECT_TRUE(lines_with(runs[i].fixture_log, "error").empty()) << runs[i].fixture_log;
    }
}

TEST(Loopback, UploadGoesToTheIpAddressFieldAndRepliesFromElsewhereAreIgnored)
{
    const int T = 26;
    TempDir dir;
    const std::string image = dir.path + "/fw.alf";
    const std::vector<uint8_t> bytes = write_image(image, image_spec(1, 5, 1000));
    const std::string controller = loopback(T, 0, 1), sender = loopback(T, 0, 11), field = loopback(T, 0, 21);
    // The fixture answers polls from `sender` but names `field` in its reply;
    // it also listens on `field`, and still answers blocks from `sender`.
    CaseRun run = run_case(controller, sender, "alt=" + field + ",ip=" + field, {"-f", image});
    ASSERT_EQ(run.setup_error, "");
    FixtureLines f = default_fixture(sender, "upgrade-required");
    f.ip = field;
    EXPECT_EQ(run.lumiload.out, update_report(image, bytes, f, "FTTT\n\n"));
    EXPECT_EQ(run.lumiload.err, "Error: Firmware upload failed.\n");
    EXPECT_EQ(run.lumiload.status, 1);
    EXPECT_EQ(lines_with(run.fixture_log, "block 0 type=0 id=0").size(), 3u)
        << "three attempts reach the IP Address field's address\n" << run.fixture_log;
}
