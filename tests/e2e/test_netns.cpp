// lumiload end to end inside private network namespaces (root only): the
// controller namespace holds 2.0.0.1/8, the fixtures namespace the
// fixtures' addresses. Here lumiload chooses its interface itself and
// broadcasts, as on a real rig, without reaching any real network.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>
#include <sstream>

#include "alfgen.h"
#include "harness.h"

// No -s and no -d: the interface in 2.0.0.1's network is chosen, the poll
// goes to its broadcast address, and 505 fixtures answer at once, one of
// them by broadcast, two with the same IP Address field, one from outside
// the controller's subnet. Then the addresses it cannot use.
TEST(Namespaces, BroadcastDiscovery)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const TempDir dir;
    Netns net;
    VirtualFixtures fixtures;
    auto lumiload = [&](const std::vector<std::string> &args) {
        return run_program(bin_path("lumiload"), args, 60, net.in("c"));
    };
    ASSERT_TRUE(net.up("2.0.0.1/8", {"2.0.0.10/8", "2.0.0.11/8", "2.0.0.12/8", "2.0.0.13/8", "10.0.0.5/8"}))
        << net.error;
    std::string many;
    for (int i = 1; i <= 500; ++i)
        many += "addr add 2.0." + std::to_string(1 + i / 256) + "." + std::to_string(i % 256) + "/8 brd + dev veth1\n";
    ASSERT_TRUE(net.batch("f", many)) << net.error;
    ASSERT_TRUE(net.batch("c", "route add 10.0.0.0/8 dev veth0\n")) << net.error;
    const std::string bcast = ",bcast=2.255.255.255";
    ASSERT_TRUE(fixtures.start(dir.path,
                               {"bind=2.0.0.10" + bcast, "bind=2.0.0.11,reply=broadcast,short=Bcast" + bcast,
                                "bind=2.0.0.12,ip=2.0.0.99,long=Twin" + bcast, "bind=2.0.0.13,ip=2.0.0.99,long=Twin" + bcast,
                                "bind=10.0.0.5" + bcast, "bind=2.0.1.1,count=500" + bcast},
                               net.in("f")))
        << fixtures.error;

    const ProcessResult r = lumiload({});
    EXPECT_EQ(r.out.rfind(BANNER + NO_ALF + "Fixture detected:\n", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "\n\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count_lines(r.out, "Fixture detected:"), 503u) << "one block per IP Address field";
    for (const std::string &block : {fixture_block("2.0.0.10"), fixture_block("2.0.0.11", {{"portName", "Bcast"}}),
                                     fixture_block("2.0.1.1"), fixture_block("2.0.2.244")})
        EXPECT_NE(r.out.find(block), std::string::npos) << block;
    EXPECT_EQ(count_lines(r.out, "    ip=2.0.0.99"), 1u);
    EXPECT_EQ(count_lines(r.out, "    longName=Twin"), 1u);
    EXPECT_EQ(r.out.find("10.0.0.5"), std::string::npos);
    EXPECT_EQ(count_lines(fixtures.log(), "10.0.0.5: poll from 2.0.0.1 -> replied"), 1u) << "it did answer";

    // An address the host lacks can be neither bound nor chosen.
    const ProcessResult unbound = lumiload({"-s", "2.0.0.99", "-d", "2.0.0.10"});
    EXPECT_EQ(unbound.err, "Error: Failed to bind UDP socket: Cannot assign requested address\nError: run_poll failed\n");
    // The port held by a process this user may not look into: no holder named.
    VirtualFixtures holder;
    ASSERT_TRUE(holder.start(dir.path, {"bind=2.0.0.1"}, net.in("c"))) << holder.error;
    const ProcessResult hidden = run_program("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", bin_path("lumiload"),
                                                         "-s", "2.0.0.1", "-d", "2.0.0.10"}, 30, net.in("c"));
    EXPECT_EQ(hidden.err, "Error: Failed to bind UDP socket: Address already in use\nError: run_poll failed\n");
    const ProcessResult unmatched = lumiload({"-s", "2.0.0.99"});
    EXPECT_EQ(unmatched.out, BANNER + NO_ALF);
    EXPECT_EQ(unmatched.err, "Error: Unable to find matching network interface\n");
    EXPECT_EQ(unmatched.status, 1);
}

// Another controller on the fixtures' network (artnet_traffic broadcasting
// from 2.0.0.50): 20-byte packets at 1000/s, or ArtDmx frames of 512
// channels (530 bytes) at 440/s, ten universes at 44 Hz. Every wait keeps
// its length: a discovery lasts its 3 s and lists every fixture, a late one
// included; an upload (its socket bound to any address, so it hears the
// broadcasts) reports as on a quiet network, or fails after its three
// attempts at the last block. The cases run side by side, each in
// namespaces of its own.
TEST(Namespaces, WaitsUnderAnotherControllersTraffic)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const std::vector<std::string> shorts = {"--size", "20", "--rate", "1000"};
    const std::vector<std::string> frames = {"--size", "530", "--rate", "440", "--universes", "10"};
    const std::string ok = "# Firmware uploaded successfully\n";
    const struct {
        std::vector<std::string> traffic;
        std::string fixtures;  // at 2.0.0.10 and on
        std::string tail;      // of an upload's report; "" for a plain discovery
        std::string err;
        size_t listed;
        double min_s, max_s;
    } rows[] = {
        {shorts, "bind=2.0.0.10,count=20,bcast=2.255.255.255", "", "", 20, 3.0, 3.5},
        {frames, "bind=2.0.0.10,bcast=2.255.255.255,poll-delay=900", "", "", 1, 3.0, 3.5},
        {frames, "bind=2.0.0.10,fault=first:delay=1500", "F - LG\n" + ok, "", 1, 1.6, 2.5},
        {shorts, "bind=2.0.0.10,fault=last:drop*all", "F - LTTT\n\n", "Error: Firmware upload failed.\n", 1, 22.6, 24},
    };
    const TempDir temp;
    const std::string image = temp.path + "/fw.alf";
    const std::vector<uint8_t> bytes = write_image(image, 1, 1, 600);  // 3 blocks
    std::vector<std::future<std::string>> running;
    for (const auto &row : rows) {
        running.push_back(std::async(std::launch::async, [&] {
            Netns net;
            std::vector<std::string> addresses = {"2.0.0.50/8"};
            for (int i = 10; i < 30; ++i)
                addresses.push_back("2.0.0." + std::to_string(i) + "/8");
            VirtualFixtures fixtures;
            if (!net.up("2.0.0.1/8", addresses) || !fixtures.start(temp.path, {row.fixtures}, net.in("f")))
                return net.error + fixtures.error;
            std::vector<std::string> traffic = net.in("f");
            traffic.insert(traffic.end(), {bin_path("artnet_traffic"), "--to", "2.255.255.255", "--from", "2.0.0.50",
                                           "--seconds", "40"});
            traffic.insert(traffic.end(), row.traffic.begin(), row.traffic.end());
            const std::string traffic_log = temp.path + "/" + net.name + ".traffic";
            const int flood = start_background(traffic, traffic_log);
            const auto start = std::chrono::steady_clock::now();
            const std::vector<std::string> args = {"-i", "-f", image, "-d", "2.0.0.10"};
            const ProcessResult r = run_program(bin_path("lumiload"), row.tail.empty() ? std::vector<std::string>() : args,
                                                60, net.in("c"));
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            stop_background(flood);
            std::string faults;
            const std::string upload =
                update_report(image, bytes, fixture_block("2.0.0.10", {{"upgradeStatus", "upgrade-required"}}), row.tail);
            if (row.tail.empty() ? count_lines(r.out, "Fixture detected:") != row.listed : r.out != upload)
                faults += "report:\n" + r.out;
            if (r.err != row.err)
                faults += "errors:\n" + r.err;
            if (took.count() < row.min_s || took.count() > row.max_s)
                faults += "took " + std::to_string(took.count()) + " s\n";
            unsigned long sent = 0;
            std::sscanf(read_text_file(traffic_log).c_str(), "sent %lu", &sent);
            if (sent < std::stoul(row.traffic[3]) * row.min_s * 0.9)
                faults += "the other controller sent only " + read_text_file(traffic_log);
            return faults;
        }));
    }
    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_EQ(running[i].get(), "") << "row " << i << ": " << rows[i].fixtures;
}

// A rig updated as the window's parallel run does it, with -o: one lumiload,
// up to four transfers in flight, each fixture confirmed by the version it
// reports after its restart. Faults on some fixtures (lost blocks, FirmFail,
// a return to the old version, one that never comes back) are reported for
// those alone; the others take the image intact, and a fixture left out of
// -u is not touched. The silent fixture is given 4 s (-w 4).
TEST(Namespaces, ParallelConfirmedUpdates)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const TempDir dir;
    Netns net;
    VirtualFixtures fixtures;
    const std::pair<std::string, std::string> rig[] = {  // fault, and the fixture's last event
        {",reply=broadcast", "confirmed: the fixture reports version 1.2.0"},
        {",fault=middle:drop*2", "confirmed: the fixture reports version 1.2.0"},
        {",fault=3:type=fail", "failed: the fixture rejected block 4 of 11 (reply type 255)"},
        {",fault=reboot:old", "failed: the fixture came back with version 1.1.0, not 1.2.0"},
        {",fault=reboot:never", "failed: the fixture did not answer within 4 s after the upload"},
        {"", ""},  // not chosen
    };
    std::vector<std::string> specs, cidrs;
    std::string chosen;
    for (int i = 0; i < 6; ++i) {
        const std::string ip = "2.0.0." + std::to_string(10 + i);
        specs.push_back("bind=" + ip + ",version=1.1.0,reboot=1500,bcast=2.255.255.255,image=" + dir.path + "/" + ip + rig[i].first);
        cidrs.push_back(ip + "/8");
        chosen += i < 5 ? (i ? "," : "") + ip : "";
    }
    ASSERT_TRUE(net.up("2.0.0.1/8", cidrs)) << net.error;
    ASSERT_TRUE(fixtures.start(dir.path, specs, net.in("f"))) << fixtures.error;
    const std::vector<uint8_t> image = write_image(dir.path + "/fw.alf", 1, 20, 5000);  // 11 blocks
    const ProcessResult r = run_program(bin_path("lumiload"), {"-i", "-f", dir.path + "/fw.alf", "-m", "-s", "2.0.0.1",
                                        "-p", "4", "-c", "-w", "4", "-u", chosen, "-o", dir.path + "/rig.csv"}, 120, net.in("c"));
    const std::string log = fixtures.stop();
    for (int i = 0; i < 6; ++i) {
        const std::string ip = "2.0.0." + std::to_string(10 + i);
        const size_t last = r.out.rfind("\n" + ip + " ");
        EXPECT_EQ(last == std::string::npos ? "" : r.out.substr(last + ip.size() + 2, rig[i].second.size() + 1),
                  rig[i].second + (i < 5 ? "\n" : "")) << ip;
        EXPECT_EQ(read_text_file(dir.path + "/" + ip) == std::string(image.begin(), image.end()), i != 2 && i != 5) << ip;
    }
    EXPECT_EQ(count_lines(r.out, "2.0.0.11 block 6 of 11 attempt"), 2u) << r.out;
    EXPECT_EQ(count_lines(read_text_file(dir.path + "/rig.csv"), ",confirmed,1.1.0,1.2.0,"), 2u);
    EXPECT_EQ(count_lines(r.out, " result=failed before=1.1.0 "), 3u) << r.out;
    EXPECT_EQ(count_lines(log, "2.0.0.15: block"), 0u);
    EXPECT_EQ(count_lines(log, "error"), 0u) << log;
    EXPECT_EQ(r.status, 1);
}

// A rig of three models from one library folder, in one -p run through
// real sockets: each fixture holds its own model's image; the model the
// folder holds two images of gets neither; a broken file is left out.
TEST(Namespaces, MixedRigFromALibrary)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const TempDir dir;
    const std::string lib = dir.path + "/lib";
    ASSERT_EQ(mkdir(lib.c_str(), 0700), 0);
    std::map<uint16_t, std::vector<uint8_t>> images;  // by OEM code: what its fixtures must hold
    const struct {
        const char *file;
        uint16_t oem;
        uint32_t words, seed;
        bool bad;
    } files[] = {{"spot.alf", 0x0101, 3000, 1, false}, {"wash.alf", 0x0102, 1500, 2, false},
                 {"beam-a.alf", 0x0103, 900, 3, false}, {"beam-b.alf", 0x0103, 900, 4, false}, {"old.alf", 0x0101, 900, 5, true}};
    for (const auto &file : files) {
        AlfImageSpec spec;
        spec.version_hi = 1;
        spec.version_lo = 20;  // 1.2.0
        spec.oem_slots = {file.oem};
        spec.data = pseudo_random_data(file.words, file.seed);
        spec.bad_checksum = file.bad;
        write_binary_file(lib + "/" + file.file, make_alf_image(spec));
        if (file.seed <= 2)
            images[file.oem] = make_alf_image(spec);
    }
    const uint16_t oems[] = {0x0101, 0x0102, 0x0101, 0x0103};
    std::vector<std::string> specs, cidrs;
    for (int i = 0; i < 4; ++i) {
        const std::string ip = "2.0.0." + std::to_string(10 + i);
        char oem[8];
        std::snprintf(oem, sizeof oem, "0x%04x", oems[i]);
        specs.push_back("bind=" + ip + ",oem=" + oem + ",version=1.1.0,reboot=300,bcast=2.255.255.255,image=" + dir.path + "/" + ip);
        cidrs.push_back(ip + "/8");
    }
    Netns net;
    VirtualFixtures fixtures;
    ASSERT_TRUE(net.up("2.0.0.1/8", cidrs)) << net.error;
    ASSERT_TRUE(fixtures.start(dir.path, specs, net.in("f"))) << fixtures.error;
    const ProcessResult r = run_program(bin_path("lumiload"), {"-l", lib, "-s", "2.0.0.1", "-p", "4", "-c"}, 60, net.in("c"));
    fixtures.stop();
    EXPECT_NE(r.out.find("4 images, 1 file left out"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("data checksum is invalid"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("2.0.0.13 \"vfixture\" 1.1.0: conflict - different images of version 1.2.0"), std::string::npos) << r.out;
    for (int i = 0; i < 4; ++i) {
        const std::string ip = "2.0.0." + std::to_string(10 + i);
        const std::vector<uint8_t> &image = images[oems[i]];
        EXPECT_EQ(read_text_file(dir.path + "/" + ip), std::string(image.begin(), image.end())) << ip;
        EXPECT_EQ(r.out.find(ip + " result=confirmed") != std::string::npos, i < 3) << r.out;
    }
    EXPECT_EQ(r.status, 1);  // the beam got nothing
}

// The network check in namespaces of its own per row: the controller has
// 2.0.0.1/8 and 10.0.0.1/8 on one link; `holder` (a vfixture in the
// controller's namespace) may hold 2.0.0.1:6454. The report holds `says`
// in order; the exit status is 0 only without problems.
TEST(Namespaces, NetworkCheck)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const std::string b = ",bcast=2.255.255.255", fix = "\n    Fix: ";
    const struct {
        std::vector<std::string> specs;  // of the fixtures, after "bind=2.0.0.1N"
        bool holder;
        std::string args;
        std::vector<std::string> says;
        int status;
    } rows[] = {
        {{"0" + b, "1" + b}, false, "-s 2.0.0.1",
         {"    interface veth0 2.0.0.1/8, broadcast 2.255.255.255: up, link, Art-Net capable\n",
          "# A run would use veth0 (2.0.0.1): named with -s\n# On veth0 (2.0.0.0/8): port 6454 free; 2 fixtures answer\n"
          "    2.0.0.10 02:00:02:00:00:0a \"vfixture\" version=1.0.0 estaMan=0x4d2a oemCode=0x4d2a\n",
          "# Network check: nothing stands in the way of an update\n"}, 0},
        {{"0" + b}, true, "-s 2.0.0.1", {"Problem: port 6454 cannot be had on 2.0.0.1", "# Network check: 1 problem\n"}, 1},
        {{"0" + b}, false, "-s 10.0.0.1", {"Problem: no fixture answers on veth0 (10.0.0.0/8)" + fix}, 1},
        {{"0,ip=10.0.0.20" + b, "1" + b}, false, "-s 2.0.0.1",
         {"Problem: 10.0.0.20 (02:00:02:00:00:0a) answers on veth0 from outside its network 2.0.0.0/8; a run drops its replies; "
          "it is in the network of veth0 (10.0.0.1)" + fix + "run with -s 10.0.0.1 for it"}, 1},
        {{"0,ip=2.0.0.99" + b, "1,ip=2.0.0.99" + b}, false, "-s 2.0.0.1",
         {"Problem: 2 devices answer at 2.0.0.99: 02:00:02:00:00:0a 02:00:02:00:00:0b; no upload may go there" + fix}, 1},
        {{"0,esta=0x2a4d" + b}, false, "-s 2.0.0.1",
         {"Problem: 2.0.0.10 reports estaMan=0x2a4d: the maker code 0x4d2a with its bytes swapped", "# Network check: 1 problem\n"}, 1},
    };
    std::vector<std::future<std::string>> running;
    const TempDir dir;
    for (const auto &row : rows) {
        running.push_back(std::async(std::launch::async, [&] {
            Netns net;
            VirtualFixtures fixtures, holder;
            std::vector<std::string> specs, cidrs;
            for (size_t i = 0; i < row.specs.size(); ++i) {
                specs.push_back("bind=2.0.0.1" + row.specs[i]);
                cidrs.push_back("2.0.0.1" + std::to_string(i) + "/8");
            }
            if (!net.up("2.0.0.1/8", cidrs) || !net.batch("c", "addr add 10.0.0.1/8 brd + dev veth0\n") ||
                !fixtures.start(dir.path, specs, net.in("f")) ||
                (row.holder && !holder.start(dir.path, {"bind=2.0.0.1"}, net.in("c"))))
                return net.error + fixtures.error + holder.error;
            std::vector<std::string> args = {"-N"};
            std::istringstream words(row.args);
            for (std::string word; words >> word;)
                args.push_back(word);
            const ProcessResult r = run_program(bin_path("lumiload"), args, 60, net.in("c"));
            std::string faults;
            size_t at = 0;
            for (const std::string &said : row.says) {
                at = r.out.find(said, at);
                faults += at == std::string::npos ? "report lacks " + said + "\n" : "";
                at = at == std::string::npos ? 0 : at;
            }
            if (r.status != row.status)
                faults += "status " + std::to_string(r.status) + "\n";
            return faults.empty() ? "" : faults + r.out + r.err;
        }));
    }
    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_EQ(running[i].get(), "") << "row " << i << ": " << rows[i].args;
}

// Nodes of other Art-Net stacks and of the field, each row in namespaces
// of its own against vfixture behaving so, through the real lumiload: the
// report holds `says` in order, standard error is `err`; the fixtures' log
// holds `log_has` and never `log_lacks`. Image 1.2.0 of three blocks,
// fixtures at 1.1.0 from 2.0.0.10 on.
TEST(Namespaces, RealNodes)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const std::string ok = "# Firmware uploaded successfully\n", b = ",bcast=2.255.255.255";
    const std::string confirmed = "# Confirmed: the fixture reports version 1.2.0\n";
    const std::string unack = "# The last block was not acknowledged; the restart will tell whether the fixture took the image\n";
    const std::string strict_lost = "bind=2.0.0.10,strict=1,fault=last:lost";
    const std::string revert = "bind=2.0.0.10,reboot=300,fault=reboot:old,revert-rom=1,revert-report=";
    const std::string one = "-s 2.0.0.1 -d 2.0.0.10";
    const struct {
        std::vector<std::string> specs;
        std::string args;  // after "-f IMAGE"
        std::vector<std::string> says;
        std::string err;
        int status;
        std::string log_has, log_lacks;
    } rows[] = {
        {{"bind=2.0.0.10,pad=1064"}, one, {"    progress=F - LG\n" + ok}, "", 0, "size", ""},
        {{"bind=2.0.0.10,pad=1064" + b, "bind=2.0.0.11,pad=1064" + b}, "-s 2.0.0.1 -p 2", {"2.0.0.10 uploaded", "2.0.0.11 uploaded"}, "", 0, "", ""},
        // The window's one-by-one command line, and its -c.
        {{"bind=2.0.0.10,reply=broadcast"}, "-i -m " + one, {"    progress=F - LG\n" + ok}, "", 0, "2.255.255.255", ""},
        {{"bind=2.0.0.10,reply=broadcast,reboot=300"}, one + " -c", {ok, confirmed}, "", 0, "", ""},
        // The last acknowledgement lost, the resent last block refused.
        {{strict_lost}, one + " -c", {"    progress=F - LTB\n" + unack, "# Last acknowledgement lost: the fixture took the image\n" + confirmed}, "", 0, "", ""},
        {{strict_lost}, one, {"    progress=F - LTB\n\n"}, "    Error: unexpected reply type=255\nError: Firmware upload failed.\n", 1, "", ""},
        {{strict_lost}, one + " -p 1", {"failed: the fixture rejected block 3 of 3 (reply type 255); the fixture may have taken the image (-c would tell)"}, "", 1, "", ""},
        {{strict_lost + ",fault=reboot:old"}, one + " -c", {unack}, "Error: the fixture came back with version 1.1.0, not 1.2.0\n", 1, "", ""},
        // A resent first block refused, then the node busy for 1.5 s.
        {{"bind=2.0.0.10,strict=1,busy=1500,fault=first:lost@1"}, one + " -r 1,2",
         {"    progress=FTB\n\n# Trying again after the fixture's own time-out of 2 s (try 2 of 2)\n# The fixture answers again: try 2 of 2\n"
          "    blockCount=3\n    progress=F - LG\n" + ok, "result=uploaded before=1.1.0 after=1.2.0", " retries=1 tries=2\n"},
         "    Error: unexpected reply type=255\n", 0, "", "busy"},
        {{"bind=2.0.0.10,strict=1,busy=1500,fault=first:lost@1"}, one, {"    progress=FTB\n\n"}, "    Error: unexpected reply type=255\nError: Firmware upload failed.\n", 1, "", ""},
        // One node with four ports; two devices at one address.
        {{"bind=2.0.0.10,ports=4" + b, "bind=2.0.0.11,ip=2.0.0.99" + b, "bind=2.0.0.12,ip=2.0.0.99" + b}, "-s 2.0.0.1 -p 4",
         {"# Address conflict: 2.0.0.99 answers from 02:00:02:00:00:0b 02:00:02:00:00:0c; no upload goes there\n\n1 fixtures to update\n2.0.0.99 not started: address conflict, devices 02:00:02:00:00:0b 02:00:02:00:00:0c answer at this address\n",
          "2.0.0.10 uploaded\n", "2.0.0.99 result=not-started before=- after=- seconds=0.0 retries=0 conflict=\"02:00:02:00:00:0b 02:00:02:00:00:0c\""},
         "", 1, "(4 ports)", "2.0.0.11: block"},
        // Back from its restart on another address (DHCP); reverted, saying why.
        {{"bind=2.0.0.10,reboot=500,new-ip=2.0.0.60" + b}, one + " -p 1 -c", {"2.0.0.10 found again at 2.0.0.60 by its MAC\n2.0.0.10 confirmed", "moved-to=2.0.0.60"}, "", 0, "", ""},
        // ... with its old firmware, while another device, already at 1.2.0, takes its old address.
        {{"bind=2.0.0.10,reboot=2500,new-ip=2.0.0.60,fault=reboot:old" + b, "bind=2.0.0.10,successor=1,mac=02:00:00:00:00:99,version=1.2.0,length=240"},
         one + " -p 1 -c", {"2.0.0.10 found again at 2.0.0.60 by its MAC\n2.0.0.10 failed: the fixture came back with version 1.1.0, not 1.2.0\n",
          "result=failed before=1.1.0 after=1.1.0"}, "", 1, "2.0.0.1 -> replied 240 bytes", ""},  // the other device did answer
        {{revert + "#0014 [0001] Check failed,dhcp=1" + b}, one + " -p 1 -c",
         {"2.0.0.10 the fixture reports: node report \"#0014 [0001] Check failed\" (firmware failure); booted from ROM; address from DHCP\n"
          "2.0.0.10 failed: the fixture came back with version 1.1.0, not 1.2.0\n", "fixture-says=\"node report"}, "", 1, "", ""},
        {{revert + "#000e [0002] Bad image"}, one + " -c", {"# The fixture reports: node report \"#000e [0002] Bad image\" (firmware failure); booted from ROM\n"},
         "Error: the fixture came back with version 1.1.0, not 1.2.0\n", 1, "", ""},
    };
    const TempDir temp;
    const std::string image = temp.path + "/fw.alf";
    write_image(image, 1, 20, 600);
    std::vector<std::future<std::string>> running;
    for (const auto &row : rows) {
        running.push_back(std::async(std::launch::async, [&] {
            Netns net;
            VirtualFixtures fixtures;
            std::vector<std::string> specs;
            for (const std::string &spec : row.specs)
                specs.push_back("version=1.1.0," + spec);
            if (!net.up("2.0.0.1/8", {"2.0.0.10/8", "2.0.0.11/8", "2.0.0.12/8", "2.0.0.60/8"}) ||
                !fixtures.start(temp.path, specs, net.in("f")))
                return net.error + fixtures.error;
            std::vector<std::string> args = {"-f", image};
            std::istringstream words(row.args);
            for (std::string word; words >> word;)
                args.push_back(word);
            const ProcessResult r = run_program(bin_path("lumiload"), args, 60, net.in("c"));
            const std::string log = fixtures.stop();
            std::string faults;
            size_t at = 0;
            for (const std::string &said : row.says) {
                at = r.out.find(said, at);
                if (at == std::string::npos) {
                    faults += "report lacks " + said + "\n";
                    at = 0;
                }
            }
            if (r.err != row.err || r.status != row.status)
                faults += "status " + std::to_string(r.status) + ", errors:\n" + r.err;
            if (log.find(row.log_has) == std::string::npos || (!row.log_lacks.empty() && log.find(row.log_lacks) != std::string::npos))
                faults += "fixtures:\n" + log;
            return faults.empty() ? "" : faults + "report:\n" + r.out;
        }));
    }
    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_EQ(running[i].get(), "") << "row " << i << ": " << rows[i].specs[0] << " / " << rows[i].args;
}

// A network that delays and reorders: a reply acknowledges only the block
// in hand, and a slow link is ridden out; a fixture holds the image exactly
// when the run reports success. Then the property under jitter
// of 10 to 70 ms on every reply: in five -p runs of ten fixtures, of which
// the odd ones reject their last block, no fixture that rejected is
// reported updated, and every fixture reported updated holds the image.
TEST(Namespaces, LateRepliesAndSlowLinks)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const TempDir temp;
    const std::string image = temp.path + "/fw.alf", four = temp.path + "/four.alf";
    const std::vector<uint8_t> bytes = write_image(image, 1, 20, 600), four_bytes = write_image(four, 1, 20, 1500);
    const std::string block = fixture_block("2.0.0.10", {{"upgradeStatus", "upgrade-required"}, {"version", "1.1.0"}});
    const std::string failed = "    Error: unexpected reply type=255\nError: Firmware upload failed.\n";
    const struct {
        std::string spec, path, tail, err;
    } rows[] = {
        // The third block's first reply 160 ms late, the last block refused 100 ms after it is sent.
        {"fault=2:delay=160,fault=last:type=fail,fault=last:delay=100", four, "F - -T LB\n\n", failed},
        {"fault=all:delay=200*all", image, "F - LG\n# Firmware uploaded successfully\n", ""},  // a 200 ms round trip
        // The second block's first reply comes in the third block's window, whose first copy is lost; a node
        // that checks BlockIds, and one that would store the fourth block in the third's place.
        {"fault=1:delay=120,fault=2:drop", four, "F -T -T LG\n# Firmware uploaded successfully\n", ""},
        {"fault=1:delay=120,fault=2:drop,lax=1", four, "F -T -T LG\n# Firmware uploaded successfully\n", ""},
        // Every reply sent twice, 75 ms apart, and the third block's first copy lost: the second block's
        // duplicate is answered in the third block's window. A node that checks BlockIds refuses the fourth.
        {"again=75,fault=2:drop", four, "F - - LB\n\n", failed},
    };
    std::vector<std::future<std::string>> running;
    for (const auto &row : rows) {
        running.push_back(std::async(std::launch::async, [&] {
            Netns net;
            VirtualFixtures fixture;
            const bool up = net.up("2.0.0.1/8", {"2.0.0.10/8"});
            const std::string held = temp.path + "/" + net.name;
            if (!up || !fixture.start(temp.path, {"bind=2.0.0.10,version=1.1.0,image=" + held + "," + row.spec}, net.in("f")))
                return net.error + fixture.error;
            const ProcessResult r = run_program(bin_path("lumiload"), {"-f", row.path, "-s", "2.0.0.1", "-d", "2.0.0.10"}, 60, net.in("c"));
            const std::vector<uint8_t> &sent = row.path == four ? four_bytes : bytes;
            const std::string expected = update_report(row.path, sent, block, row.tail);
            const bool intact = read_text_file(held) == std::string(sent.begin(), sent.end());
            return r.out == expected && r.err == row.err && intact == row.err.empty() ? std::string()
                                                                                      : r.out + r.err + fixture.stop();
        }));
    }
    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_EQ(running[i].get(), "") << rows[i].spec;

    Netns net;
    VirtualFixtures fixtures;
    std::vector<std::string> specs, cidrs;
    for (int i = 0; i < 10; ++i) {
        const std::string ip = "2.0.0." + std::to_string(10 + i);
        specs.push_back("bind=" + ip + ",jitter=10:70,bcast=2.255.255.255,image=" + temp.path + "/" + ip + (i % 2 ? ",fault=last:type=fail*all" : ""));
        cidrs.push_back(ip + "/8");
    }
    ASSERT_TRUE(net.up("2.0.0.1/8", cidrs)) << net.error;
    ASSERT_TRUE(fixtures.start(temp.path, specs, net.in("f"))) << fixtures.error;
    unsigned updated = 0, rejected_reported_updated = 0, updated_not_intact = 0;
    for (int run = 0; run < 5; ++run) {
        const ProcessResult r = run_program(bin_path("lumiload"), {"-i", "-f", image, "-s", "2.0.0.1", "-p", "10"}, 60, net.in("c"));
        for (int i = 0; i < 10; ++i) {
            const std::string ip = "2.0.0." + std::to_string(10 + i);
            if (r.out.find("\n" + ip + " uploaded\n") == std::string::npos)
                continue;
            ++updated;
            rejected_reported_updated += i % 2;
            updated_not_intact += read_text_file(temp.path + "/" + ip) != std::string(bytes.begin(), bytes.end());
            std::remove((temp.path + "/" + ip).c_str());
        }
    }
    EXPECT_EQ(rejected_reported_updated, 0u);
    EXPECT_EQ(updated_not_intact, 0u);
    EXPECT_GT(updated, 0u);
    std::printf("jitter 10-70 ms: 50 uploads, %u reported updated (all intact), 25 rejected the last block, none reported updated\n", updated);
}

// What happens around a run while it goes on, each row in namespaces of its
// own: `action` runs in the controller's namespace from the start (an
// upload begins at once with -d, after discovery's 3 s without). Image
// 1.2.0 of 40 blocks; fixtures at 1.1.0 from 2.0.0.10 on, each storing what
// it is sent, with the row's `keys`. The report holds `says` in order;
// `intact`: every fixture holds the image as it was when the run began.
TEST(Namespaces, ChangesDuringARun)
{
    const std::string why = netns_unavailable_reason();
    if (!why.empty())
        GTEST_SKIP() << why;
    const struct {
        std::string action;
        int fixtures;
        std::string keys, args;
        std::vector<std::string> says;
        int status;
        bool intact;
        double max_s = 60;  // the whole run, wall clock
    } rows[] = {
        // The file overwritten with another valid image of its length.
        {"sleep 4; cp OTHER IMAGE", 3, "", "-p 3 -c", {" result=confirmed ", " result=confirmed ", " result=confirmed "}, 0, true},
        // The controller's link down for 2 s, then for good (the link wait cut to 2 s).
        {"sleep 1; ip link set veth0 down; sleep 2; ip link set veth0 up", 1, "", "-d 2.0.0.10", {"Failed to send", "# Firmware uploaded successfully\n"}, 0, true},
        // The cable pulled at the far end for 2 s: the controller's sends do not fail, its link has no carrier.
        {"sleep 1; ip -n NETNS-f link set veth1 down; sleep 2; ip -n NETNS-f link set veth1 up", 1, "", "-d 2.0.0.10", {"# Firmware uploaded successfully\n"}, 0, true},
        {"sleep 1; ip link set veth0 down", 1, "", "-d 2.0.0.10 -p 1 -w 60,2", {"2.0.0.10 failed: block ", " of 41 could not be sent: the network link stayed down for 2 s\n"}, 1, false, 10},
        // Another console polls every 2.5 s and the fixtures answer by broadcast, inside the reply windows
        // (the replies 100 ms late hold them open): no attempt lost.
        {"exec TRAFFIC --to 2.255.255.255 --poll 2500 --seconds 30", 3, ",reply=broadcast,fault=all:delay=100*all", "-p 3 -c",
         {" result=confirmed ", " retries=0\n", " result=confirmed ", " retries=0\n", " result=confirmed ", " retries=0\n"}, 0, true},
    };
    const TempDir temp;
    std::vector<std::future<std::string>> running;
    for (const auto &row : rows) {
        running.push_back(std::async(std::launch::async, [&] {
            Netns net;
            VirtualFixtures fixtures;
            std::vector<std::string> specs, cidrs;
            for (int i = 0; i < row.fixtures; ++i)
                cidrs.push_back("2.0.0." + std::to_string(10 + i) + "/8");
            const bool up = net.up("2.0.0.1/8", cidrs);
            for (int i = 0; i < row.fixtures; ++i) {
                const std::string ip = "2.0.0." + std::to_string(10 + i);
                specs.push_back("bind=" + ip + ",version=1.1.0,reboot=300,bcast=2.255.255.255,image=" + temp.path + "/" + net.name + ip + row.keys);
            }
            if (!up || !fixtures.start(temp.path, specs, net.in("f")))
                return net.error + fixtures.error;
            const std::string image = temp.path + "/" + net.name + ".alf", other = image + ".other";
            const std::vector<uint8_t> bytes = write_image(image, 1, 20, 20000);
            write_image(other, 1, 21, 20000);
            std::string action = row.action;
            for (const auto &name : {std::make_pair("OTHER", other), std::make_pair("IMAGE", image),
                                     std::make_pair("TRAFFIC", bin_path("artnet_traffic")), std::make_pair("NETNS", net.name)})
                for (size_t at; (at = action.find(name.first)) != std::string::npos;)
                    action.replace(at, std::strlen(name.first), name.second);
            std::vector<std::string> command = net.in("c");
            command.insert(command.end(), {"sh", "-c", action});
            const int acting = start_background(command, image + ".log");
            std::vector<std::string> args = {"-f", image, "-s", "2.0.0.1"};
            std::istringstream words(row.args);
            for (std::string word; words >> word;)
                args.push_back(word);
            const auto start = std::chrono::steady_clock::now();
            const ProcessResult r = run_program(bin_path("lumiload"), args, 60, net.in("c"));
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            stop_background(acting);
            const std::string log = fixtures.stop();
            std::string faults;
            size_t at = 0;
            const std::string told = r.err + r.out;
            for (const std::string &said : row.says) {
                at = told.find(said, at);
                faults += at == std::string::npos ? "report lacks " + said + "\n" : "";
                at = at == std::string::npos ? 0 : at + 1;
            }
            for (int i = 0; i < row.fixtures; ++i) {
                const std::string held = read_text_file(temp.path + "/" + net.name + "2.0.0." + std::to_string(10 + i));
                if ((held == std::string(bytes.begin(), bytes.end())) != row.intact)
                    faults += "fixture " + std::to_string(10 + i) + " holds " + std::to_string(held.size()) + " bytes\n";
            }
            if (r.status != row.status)
                faults += "status " + std::to_string(r.status) + "\n";
            if (took.count() > row.max_s)
                faults += "took " + std::to_string(took.count()) + " s\n";
            return faults.empty() ? "" : faults + "report:\n" + told + log;
        }));
    }
    for (size_t i = 0; i < running.size(); ++i)
        EXPECT_EQ(running[i].get(), "") << "row " << i << ": " << rows[i].action;
}
