// Whole runs of lumiload in-process on the stand-in platform: the
// protocol's timing, counted on the test's clock, and the rules of the
// discovery and update stages. Real sockets are the end-to-end tests' part.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "alfgen.h"
#include "fake_platform.h"
#include "harness.h"
#include "maker_code.h"
#include "run.h"

namespace {

struct Images {
    TempDir dir;
    std::string path = dir.path + "/fw.alf", big = dir.path + "/big.alf", csv = dir.path + "/summary.csv";
    std::vector<uint8_t> image = write_image(path, 1, 5, 600);  // 1.0.5, 3 blocks
    std::vector<uint8_t> big_image = write_image(big, 1, 5, 258 * 512 - 530 - 100);
};

const Images &images()
{
    static Images images;
    return images;
}

struct RunResult {
    std::string out, err;
    int status;
    uint64_t ms;  // the clock when the run ended
};

// lumiload with the words of `command`; IMG and BIG name the images.
RunResult run(const std::string &command)
{
    std::vector<std::string> words = {"lumiload"};
    std::istringstream in(command);
    for (std::string word; in >> word;)
        words.push_back(word == "IMG" ? images().path : word == "BIG" ? images().big : word == "CSV" ? images().csv : word);
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    RunResult r;
    r.status = run_lumiload(static_cast<int>(argv.size()), argv.data());
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    r.ms = fake.now_us / 1000;
    return r;
}

bool ends_with(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const std::string DONE = "# Firmware uploaded successfully\n", WAIT = "# Waiting for the fixture to restart\n";

TEST(Run, TimingOnTheTestsClock)
{
    const struct {
        const char *spec;               // the fixture
        const char *command;
        std::string ending;             // of the report
        std::vector<uint64_t> packets;  // when the fixture got each ArtFirmwareMaster (ms)
        uint64_t end_ms;
        FakeNetwork::Flood flood = {};  // another controller's traffic
    } rows[] = {
        // Listening ends when 300 receives of 10 ms have failed in all.
        {"bind=2.0.0.9", "-d 2.0.0.10", NO_ALF + "\n", {}, 3000},
        {"bind=2.0.0.10,bcast=2.255.255.255", "", "longName=Virtual fixture 2.0.0.10\n\n", {}, 3000},
        // Per block: 1 ms emptying the queue, the send, the reply, a 50 ms pause.
        {"bind=2.0.0.10", "-f IMG -d 2.0.0.10", "progress=F - LG\n" + DONE, {1, 52, 103}, 153},
        // Three attempts, each waiting 40, 1 or 150 receives of 50 ms.
        {"bind=2.0.0.10,fault=first:drop*all", "-f IMG -d 2.0.0.10", "progress=FTTT\n\n", {1, 2002, 4003}, 6003},
        {"bind=2.0.0.10,fault=middle:drop*all", "-f IMG -d 2.0.0.10", "progress=F -TTT\n\n", {1, 52, 103, 154}, 204},
        {"bind=2.0.0.10,fault=last:drop*all", "-f IMG -d 2.0.0.10", "progress=F - LTTT\n\n",
         {1, 52, 103, 7604, 15105}, 22605},
        // A reply that comes after its attempt gave up is emptied from the
        // queue before the next block, not taken for that block's answer.
        {"bind=2.0.0.10,fault=first:delay=2010", "-f IMG -d 2.0.0.10", "progress=FT - LG\n" + DONE,
         {1, 2002, 2053, 2104}, 2154},
        // A reply that fails its checks does not count against the wait.
        {"bind=2.0.0.10,fault=middle:proto=13", "-f IMG -d 2.0.0.10", "progress=F -T LG\n" + DONE, {1, 52, 103, 154}, 204},
        {"bind=2.0.0.10,fault=middle:proto=13,fault=middle:delay=20", "-f IMG -d 2.0.0.10", "progress=F -T LG\n" + DONE,
         {1, 52, 103, 154}, 204},  // nor restart it
        // A reply too long for the buffer from the polled host is a failed receive.
        {"bind=2.0.0.9,length=600", "-d 2.0.0.9", NO_ALF + "\n", {}, 2990},
        // Traffic of another controller, 20-byte packets at 1000/s or ArtDmx
        // frames of 530 bytes at 440/s, is dropped inside the windows: it
        // neither ends nor stretches a wait, and too long it is no failure.
        {"bind=2.0.0.10,bcast=2.255.255.255", "", "longName=Virtual fixture 2.0.0.10\n\n", {}, 3000, {1000, 20}},
        {"bind=2.0.0.10,bcast=2.255.255.255,poll-delay=900", "", "longName=Virtual fixture 2.0.0.10\n\n", {}, 3010,
         {2273, 530}},
        {"bind=2.0.0.10,fault=first:delay=1500", "-f IMG -d 2.0.0.10", "progress=F - LG\n" + DONE, {1, 1552, 1603}, 1653,
         {2273, 530}},
        {"bind=2.0.0.10,fault=last:drop*all", "-f IMG -d 2.0.0.10", "progress=F - LTTT\n\n",
         {1, 52, 103, 7604, 15105}, 22605, {1000, 20}},
        // After the upload, a poll a second until the fixture answers, for a minute.
        {"bind=2.0.0.10,reboot=2500", "-f IMG -c -d 2.0.0.10", "LG\n" + DONE + WAIT + "# Confirmed: the fixture reports version 1.0.5\n",
         {1, 52, 103}, 3153},
        {"bind=2.0.0.10,fault=reboot:never", "-f IMG -c -d 2.0.0.10", "LG\n" + DONE + WAIT, {1, 52, 103}, 60153},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.spec) + " / " + row.command);
        fake_reset({row.spec}, {"2.0.0.1/8"});
        fake.flood = row.flood;
        const RunResult r = run(row.command);
        EXPECT_TRUE(ends_with(r.out, row.ending)) << r.out;
        if (row.flood.every_us) {
            EXPECT_EQ(r.err.find("WSA ERROR"), std::string::npos) << r.err;
        }
        EXPECT_EQ(fake_times(" block "), row.packets);
        EXPECT_EQ(r.ms, row.end_ms);
        EXPECT_EQ(fake_times("error"), std::vector<uint64_t>());
    }
}

TEST(Run, LongUploadWrapsTheBlockId)
{
    fake_reset({"bind=2.0.0.10"});
    const RunResult r = run("-f BIG -d 2.0.0.10");
    std::string marks = "F ";
    for (int i = 0; i < 256; ++i)
        marks += "- ";
    EXPECT_TRUE(ends_with(r.out, "progress=" + marks + "LG\n" + DONE)) << r.out;
    EXPECT_EQ(fake_times(": block 256 type=1 id=0 ").size(), 1u);
    EXPECT_EQ(fake_times("error"), std::vector<uint64_t>());
    EXPECT_NE(run("-d 2.0.0.10").out.find("    version=1.0.5\n"), std::string::npos) << "the fixture runs the image now";
}

// The fixture block and what decides it: each field's byte order, names
// cut and made safe, the IP Address field rather than the sender, the
// sender filter, short replies, one block per IP Address field, verdicts.
TEST(Run, FixtureBlocks)
{
    const std::string a = "bind=2.0.0.10", bcast = ",bcast=2.255.255.255";
    const std::string image = header_report(images().path, images().image) + SEPARATOR;
    auto block = [](const std::map<std::string, std::string> &changes) { return fixture_block("2.0.0.10", changes); };
    const struct {
        std::vector<std::string> specs;
        const char *command;
        std::string report;  // after the banner
    } table[] = {
        {{a}, "-d 2.0.0.10", NO_ALF + block({}) + "\n"},
        // 18 bytes of ShortName without a terminator: 17 shown; control bytes as "?".
        {{a + ",short=AB\\x01CDEFGHIJKLMNOP\\x1f,long=Spot\\x7f 1\\x02\\x1b"}, "-d 2.0.0.10",
         NO_ALF + block({{"portName", "AB?CDEFGHIJKLMNOP"}, {"longName", "Spot? 1??"}}) + "\n"},
        {{a + ",ip=10.1.2.3,mac=aa:bb:cc:00:01:ff,esta=0x2a4d,oem=0x1234,version-bytes=1:255"}, "-d 2.0.0.10",
         NO_ALF + block({{"ip", "10.1.2.3"}, {"mac", "aa:bb:cc:00:01:ff"}, {"estaMan", "0x2a4d"}, {"oemCode", "0x1234"},
                         {"version", "1.25.5"}}) + "\n"},
        {{a + ",length=207,version-bytes=1:9"}, "-d 2.0.0.10", NO_ALF + block({{"version", "1.0.9"}}) + "\n"},
        {{a + ",length=206"}, "-d 2.0.0.10", NO_ALF + "\n"},
        {{a + ",alt=2.0.0.20,poll-from=alt"}, "-d 2.0.0.10", NO_ALF + "\n"},  // only the polled address may answer
        {{a + bcast + ",ip=2.0.0.99", "bind=2.0.0.11,ip=2.0.0.99" + bcast}, "", NO_ALF + block({{"ip", "2.0.0.99"}}) + "\n"},
        {{a + ",version=1.0.5"}, "-f IMG -d 2.0.0.10",
         image + block({{"version", "1.0.5"}, {"upgradeStatus", "up-to-date"}}) + "\n"},
        {{a + ",version=1.0.5"}, "-i -t -f IMG -d 2.0.0.10",
         "# TEST RUN MODE\n" + image + block({{"version", "1.0.5"}, {"upgradeStatus", "upgrade-required"}}) +
             "\n1 fixtures to update\n" + SEPARATOR + "Skipped update of fixture at 2.0.0.10 due to -t flag\n"},
        {{a + ",oem=0x1234"}, "-i -f IMG -d 2.0.0.10", image + block({{"oemCode", "0x1234"}, {"upgradeStatus", "incompatible"}}) + "\n"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.specs[0] + " / " + row.command);
        fake_reset(row.specs, {"2.0.0.1/8"});
        EXPECT_EQ(run(row.command).out, BANNER + row.report);
        EXPECT_EQ(fake.sends, 1) << "one poll";
    }
}

TEST(Run, DiscoveryAndUpdateStageRules)
{
    const std::string a = "bind=2.0.0.10,bcast=2.255.255.255", b = "bind=2.0.0.11,bcast=2.255.255.255";
    const std::vector<std::string> art_net = {"2.0.0.1/8"};
    const std::string multiple = "Error: multiple fixtures detected.\n"
                                 "# Connect only one, or specify which to use with -d, or use -m to allow multiple upload.\n";
    auto skipped = [](const char *ip) { return SEPARATOR + "Skipped update of fixture at " + ip + " due to -t flag\n"; };
    auto uploading = [](const char *ip, const std::string &tail) {
        return SEPARATOR + "Uploading to fixture at " + ip + ":\n    blockCount=3\n    progress=" + tail;
    };
    const std::string send_failed = "Failed to send UDP packet. errno=105\n";
    const struct {
        std::vector<std::string> specs;
        std::vector<std::string> interfaces;
        const char *command;
        std::string after;  // the report after the discovery's empty line
        std::string err;
        int status;
        int failing_from = -1, failing_to = -1;  // sends that fail, by number from 0
        uint64_t stop_ms = 0;                    // the line "stop" comes in (-S)
    } rows[] = {
        {{a, b}, art_net, "-f IMG", "2 fixtures to update\n", multiple, 1},
        {{a, b}, art_net, "-f IMG -t", "2 fixtures to update\n", multiple, 1},
        {{a, b}, art_net, "-f IMG -m -t", "2 fixtures to update\n" + skipped("2.0.0.10") + skipped("2.0.0.11"), "", 0},
        {{a + ",fault=middle:type=fail", b, "bind=2.0.0.12,bcast=2.255.255.255,version=1.0.5"}, art_net, "-f IMG -m",
         "2 fixtures to update\n" + uploading("2.0.0.10", "F -B\n\n") + uploading("2.0.0.11", "F - LG\n" + DONE),
         "    Error: unexpected reply type=255\nError: Firmware upload failed.\n", 1},
        {{a + ",version=1.0.5"}, art_net, "-f IMG", "", "Error: no fixture to update.\n", 1},
        {{a}, {"192.168.1.10/24"}, "", "", "Error: Unable to find matching network interface\n", 1},
        {{"bind=10.0.0.9,bcast=10.255.255.255"}, {"2.0.0.1/8", "10.0.0.5/8"}, "-s 10.0.0.5 -f IMG -t",
         "1 fixtures to update\n" + skipped("10.0.0.9"), "", 0},
        {{a}, art_net, "-d fixture -f IMG -t", "1 fixtures to update\n" + skipped("2.0.0.10"), "", 0},
        {{a}, art_net, "", "", send_failed + send_failed + send_failed +
         "    Error: Transmit failure.\nError: run_poll failed\n", 1, 0, 3},
        {{a}, art_net, "-f IMG", "1 fixtures to update\n" + uploading("2.0.0.10", "F! - LG\n" + DONE),
         send_failed + send_failed + send_failed + send_failed, 0, 1, 5},
        {{a}, art_net, "", "", "", 1},  // a poll-only run never succeeds
        {{a + ",fault=reboot:old"}, art_net, "-f IMG -c", "1 fixtures to update\n" + uploading("2.0.0.10", "F - LG\n" + DONE + WAIT),
         "Error: the fixture came back with version 1.0.0, not 1.0.5\n", 1},
        {{a + ",fault=middle:type=fail", b}, art_net, "-f IMG -m -k 1", "2 fixtures to update\n" +
         uploading("2.0.0.10", "F -B\n\n") + SEPARATOR + "Skipped update of fixture at 2.0.0.11 due to -k 1\n",
         "    Error: unexpected reply type=255\nError: Firmware upload failed.\n", 1},
        {{a, b}, art_net, "-f IMG -u 2.0.0.11,2.0.0.99", "1 fixtures to update\n" + uploading("2.0.0.11", "F - LG\n" + DONE),
         "Error: fixture 2.0.0.99 is not among the fixtures that need the image\n", 1},
        {{a, b}, art_net, "-f IMG -m -S", "2 fixtures to update\n" + uploading("2.0.0.10", "F - LG\n" + DONE) + SEPARATOR +
         "Skipped update of fixture at 2.0.0.11 due to stop (-S)\n", "", 1, -1, -1, 3050},
        {{a, b}, art_net, "-f IMG -m", "2 fixtures to update\n" + uploading("2.0.0.10", "F - LG\n" + DONE) +
         uploading("2.0.0.11", "F - LG\n" + DONE), "", 0, -1, -1, 3050},  // no -S: the input is not read
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command + (" with " + row.specs[0]));
        fake_reset(row.specs, row.interfaces);
        fake.failing_from = row.failing_from;
        fake.failing_to = row.failing_to;
        fake.stop_at_us = row.stop_ms * 1000;
        const RunResult r = run(row.command);
        const size_t discovered = r.out.find("\n\n");
        EXPECT_EQ(discovered == std::string::npos ? "" : r.out.substr(discovered + 2), row.after) << r.out;
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.status, row.status);
        EXPECT_FALSE(fake.socket_open);
    }
}


// Parallel runs from one socket, on the test's clock: each fixture's events
// in order, whatever the interleaving; a fault stays with its fixture; the
// transfers in flight run side by side; -k, -u, -c, the summary and its CSV.
TEST(Run, ParallelRuns)
{
    const std::string up = "upload started, blockCount=3\nblock 1 of 3 accepted\n", rest = "block 2 of 3 accepted\n"
        "block 3 of 3 accepted\nuploaded\n", wait = "waiting for the fixture to restart\n";
    const std::string confirmed = wait + "confirmed: the fixture reports version 1.0.5\n";
    const struct {
        std::vector<std::string> specs;               // of the fixtures at 2.0.0.10 and on
        const char *command;
        std::map<std::string, std::string> events;  // each fixture's, without its address
        std::string summary;                        // after "# Summary\n"
        std::vector<uint64_t> starts;               // when each fixture got its first block (ms)
        uint64_t end_ms;
        int status = 1;
        uint64_t stop_ms = 0;                       // the line "stop" comes in (-S)
    } rows[] = {
        {{"reboot=900"}, "-f IMG -p 1 -c", {{"2.0.0.10", up + rest + confirmed}},
         "2.0.0.10 result=confirmed before=1.0.0 after=1.0.5 seconds=1.2 retries=0\n", {3001}, 4153, 0},
        {{"reboot=2500", "fault=middle:drop", "fault=middle:type=fail", "fault=reboot:old", "fault=reboot:never"},
         "-f IMG -p 5 -c -o CSV",
         {{"2.0.0.10", up + rest + confirmed}, {"2.0.0.11", up + "block 2 of 3 attempt 1 failed: no reply\n" + rest + confirmed},
          {"2.0.0.12", up + "failed: the fixture rejected block 2 of 3 (reply type 255)\n"},
          {"2.0.0.13", up + rest + wait + "failed: the fixture came back with version 1.0.0, not 1.0.5\n"},
          {"2.0.0.14", up + rest + wait + "failed: the fixture did not answer within 60 s after the upload\n"}},
         "2.0.0.10 result=confirmed before=1.0.0 after=1.0.5 seconds=3.2 retries=0\n"
         "2.0.0.11 result=confirmed before=1.0.0 after=1.0.5 seconds=1.2 retries=1\n"
         "2.0.0.12 result=failed before=1.0.0 after=- seconds=0.1 retries=0\n"
         "2.0.0.13 result=failed before=1.0.0 after=1.0.0 seconds=1.2 retries=0\n"
         "2.0.0.14 result=failed before=1.0.0 after=- seconds=60.2 retries=0\n",
         {3001, 3001, 3001, 3001, 3001}, 63153},
        // Those in flight finish after the K-th failure; no more start.
        {{"fault=middle:type=fail", "", ""}, "-f IMG -p 2 -k 1",
         {{"2.0.0.10", up + "failed: the fixture rejected block 2 of 3 (reply type 255)\n"}, {"2.0.0.11", up + rest},
          {"2.0.0.12", "not started: 1 fixtures failed (-k 1)\n"}},
         "2.0.0.10 result=failed before=1.0.0 after=- seconds=0.1 retries=0\n"
         "2.0.0.11 result=uploaded before=1.0.0 after=1.0.5 seconds=0.2 retries=0\n"
         "2.0.0.12 result=not-started before=1.0.0 after=- seconds=0.0 retries=0\n",
         {3001, 3001}, 3153},
        {{"", "", ""}, "-f IMG -p 1 -u 2.0.0.12,2.0.0.99,2.0.0.11",
         {{"2.0.0.10", ""}, {"2.0.0.11", up + rest}, {"2.0.0.12", up + rest},
          {"2.0.0.99", "not started: not among the fixtures that need the image\n"}},
         "2.0.0.11 result=uploaded before=1.0.0 after=1.0.5 seconds=0.2 retries=0\n"
         "2.0.0.12 result=uploaded before=1.0.0 after=1.0.5 seconds=0.2 retries=0\n"
         "2.0.0.99 result=not-started before=- after=- seconds=0.0 retries=0\n",
         {3001, 3154}, 3306},
        // Told to stop part way through the first upload: it goes on to its
        // confirmation; no more start.
        {{"reboot=900", "", ""}, "-f IMG -p 1 -c -S",
         {{"2.0.0.10", up + rest + confirmed}, {"2.0.0.11", "not started: the run was stopped (-S)\n"},
          {"2.0.0.12", "not started: the run was stopped (-S)\n"}},
         "2.0.0.10 result=confirmed before=1.0.0 after=1.0.5 seconds=1.2 retries=0\n"
         "2.0.0.11 result=not-started before=1.0.0 after=- seconds=0.0 retries=0\n"
         "2.0.0.12 result=not-started before=1.0.0 after=- seconds=0.0 retries=0\n",
         {3001}, 4153, 1, 3050},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command);
        std::vector<std::string> specs;
        for (size_t i = 0; i < row.specs.size(); ++i)
            specs.push_back("bind=2.0.0." + std::to_string(10 + i) + ",bcast=2.255.255.255," + row.specs[i]);
        fake_reset(specs, {"2.0.0.1/8"});
        fake.stop_at_us = row.stop_ms * 1000;
        std::remove(images().csv.c_str());
        const RunResult r = run(row.command);
        for (const auto &fixture : row.events) {
            std::string events;
            std::istringstream lines(r.out);
            for (std::string line; std::getline(lines, line);)
                events += line.rfind(fixture.first + " ", 0) == 0 ? line.substr(fixture.first.size() + 1) + "\n" : "";
            EXPECT_EQ(events, fixture.second) << fixture.first;
        }
        std::string summary = r.out.substr(r.out.find("# Summary\n") + 10), csv = "address,result,before,after,seconds,retries\n";
        EXPECT_EQ(std::regex_replace(summary, std::regex("(^|\n)    "), "$1"), row.summary);
        if (std::string(row.command).find("CSV") != std::string::npos) {
            EXPECT_EQ(read_text_file(images().csv), csv + std::regex_replace(row.summary, std::regex(" [a-z]+="), ","));
        }
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(fake_times(": block 0 "), row.starts);
        EXPECT_EQ(r.ms, row.end_ms);
    }
}

}  // namespace

namespace {

// A library of four models' images: two versions of the spot's, the
// wash's, two different beam images of one version, a broken file and a
// file that is no image.
struct Library {
    TempDir dir;
    Library()
    {
        const struct {
            const char *file;
            uint8_t hi, lo;
            uint16_t oem;
            uint32_t seed;
            bool bad;
        } files[] = {{"spot-new.alf", 1, 7, MAKER_CODE, 1, false}, {"spot-old.alf", 1, 5, MAKER_CODE, 2, false},
                     {"wash.ALF", 2, 0, 0x0102, 3, false},        {"beam-a.alf", 1, 3, 0x0103, 4, false},
                     {"beam-b.alf", 1, 3, 0x0103, 5, false},      {"broken.alf", 3, 0, MAKER_CODE, 6, true}};
        for (const auto &file : files) {
            AlfImageSpec spec;
            spec.version_hi = file.hi;
            spec.version_lo = file.lo;
            spec.oem_slots = {file.oem};
            spec.data = pseudo_random_data(600, file.seed);
            spec.bad_checksum = file.bad;
            write_binary_file(dir.path + "/" + file.file, make_alf_image(spec));
        }
        write_text_file(dir.path + "/notes.txt", "not an image");
    }
};

RunResult run_with_library(const std::string &command)
{
    static Library library;
    std::string words = command;
    for (size_t at; (at = words.find("LIB")) != std::string::npos;)
        words.replace(at, 3, library.dir.path);
    for (size_t at; (at = words.find("@CSV")) != std::string::npos;)
        words.replace(at, 4, "@" + images().csv);
    return run(words);
}

// A rig of several models from one folder: the plan before any upload,
// each fixture with its own image, a test group that stops a bad rollout,
// and a summary file that resumes the rest.
TEST(Run, FirmwareLibrary)
{
    const std::string rig[] = {"version=1.0.0", "oem=0x0102,version=1.0.0", "oem=0x0103", "oem=0x0999", "version=1.0.7"};
    const struct {
        std::string command, csv_before;   // CSV: the summary file's content before the run, when not empty
        std::vector<std::string> faults;  // of the rig's fixtures, in order
        std::vector<std::string> says;    // in order, in the report
        std::string csv_after;
        int status;
    } rows[] = {
        {"-l LIB -m -t", "", {},
         {"# Firmware library ", ": 5 images, 1 file left out\n    beam-a.alf name=Test image version=1.0.3 oemCodes=< 0x0103 > blockCount=3\n",
          "# Plan: 5 fixtures\n"
          "    2.0.0.10 \"vfixture\" 1.0.0: update spot-new.alf 1.0.7\n"
          "    2.0.0.11 \"vfixture\" 1.0.0: update wash.ALF 2.0.0\n"
          "    2.0.0.12 \"vfixture\" 1.0.0: conflict - different images of version 1.0.3 fit OEM 0x0103: beam-a.alf, beam-b.alf\n"
          "    2.0.0.13 \"vfixture\" 1.0.0: no-image - no image fits maker 0x4d2a, OEM 0x0999\n"
          "    2.0.0.14 \"vfixture\" 1.0.7: current spot-new.alf 1.0.7\n"
          "# Plan counts: update=2 downgrade=0 current=1 no-image=1 conflict=1\n",
          "2 fixtures to update\n", "at 2.0.0.10 due to -t", "at 2.0.0.11 due to -t"}, "", 1},
        {"-l LIB -i -m -t -u 2.0.0.14", "", {}, {"    2.0.0.14 \"vfixture\" 1.0.7: update spot-new.alf 1.0.7\n", "1 fixtures to update\n"}, "", 0},
        {"-l LIB -p 5 -c -o CSV", "", {},
         {"2.0.0.10 upload started, blockCount=3, image=spot-new.alf\n", "2.0.0.11 upload started, blockCount=3, image=wash.ALF\n",
          "2.0.0.10 result=confirmed before=1.0.0 after=1.0.7 seconds=1.2 retries=0 image=spot-new.alf\n"
          "    2.0.0.11 result=confirmed before=1.0.0 after=2.0.0 seconds=1.2 retries=0 image=wash.ALF\n"},
         "address,result,before,after,seconds,retries,image\n2.0.0.10,confirmed,1.0.0,1.0.7,1.2,0,spot-new.alf\n"
         "2.0.0.11,confirmed,1.0.0,2.0.0,1.2,0,wash.ALF\n", 1},
        // A test group of one fails: nothing else starts. One that succeeds goes first.
        {"-l LIB -p 5 -n 1 -u 2.0.0.10,2.0.0.11", "", {"fault=middle:type=fail"},
         {"2.0.0.10 failed: the fixture rejected block 2 of 3", "2.0.0.11 not started: 1 of the first 1 fixtures failed (-n 1)\n"}, "", 1},
        {"-l LIB -p 5 -n 1 -u 2.0.0.11,2.0.0.10", "", {},
         {"2.0.0.11 confirmed", "2.0.0.10 upload started", "2.0.0.10 confirmed"}, "", 0},
        // Resumed from a summary: only what was not updated.
        {"-l LIB -p 5 -u @CSV", "address,result,before,after,seconds,retries,image\n2.0.0.10,confirmed,1.0.0,1.0.7,0.5,0,spot-new.alf\r\n"
         "2.0.0.11,failed,1.0.0,-,0.1,0,wash.ALF\r\n", {},
         {"Resuming from ", ": 1 fixture not updated\n", "1 fixtures to update\n", "2.0.0.11 uploaded\n# Summary\n    2.0.0.11 result="}, "", 0},
        {"-l LIB -p 5 -u @CSV", "address,result,before,after,seconds,retries\n2.0.0.10,confirmed,1.0.0,1.0.7,0.5,0\n", {},
         {"Resuming from ", ": 0 fixtures not updated\n"}, "", 0},
        {"-l LIB -p 5 -u @CSV", "2.0.0.10,confirmed\n", {}, {}, "", 1},
        {"-l LIB -f IMG", "", {}, {}, "", 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command);
        std::vector<std::string> specs;
        for (size_t i = 0; i < 5; ++i)
            specs.push_back("bind=2.0.0." + std::to_string(10 + i) + ",bcast=2.255.255.255,reboot=300," + rig[i] +
                            (i < row.faults.size() ? "," + row.faults[i] : ""));
        fake_reset(specs, {"2.0.0.1/8"});
        std::remove(images().csv.c_str());
        if (!row.csv_before.empty())
            write_text_file(images().csv, row.csv_before);
        const RunResult r = run_with_library(row.command);
        size_t at = 0;
        for (const std::string &said : row.says) {
            at = r.out.find(said, at);
            EXPECT_NE(at, std::string::npos) << said << "\n" << r.out << r.err;
            at = at == std::string::npos ? 0 : at;
        }
        if (!row.csv_after.empty()) {
            EXPECT_EQ(read_text_file(images().csv), row.csv_after);
        }
        EXPECT_EQ(r.status, row.status);
    }
}

}  // namespace
