// lumiload end to end inside private network namespaces (root only): the
// controller namespace holds 2.0.0.1/8 on veth0, the fixtures namespace the
// fixtures' addresses on veth1. Here lumiload may broadcast and choose its
// interface itself, as on a real rig, without reaching any real network.
// Each test makes its own pair of namespaces and deletes it afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "e2e_support.h"
#include "netns.h"

namespace {

class Netns : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why = netns_unavailable_reason();
        if (!why.empty())
            GTEST_SKIP() << why;
        dir = make_temp_dir();
    }
    void TearDown() override
    {
        fixtures.stop();
        net.destroy();
        remove_tree(dir);
    }

    // lumiload inside the controller namespace.
    ProcessResult lumiload(const std::vector<std::string> &args)
    {
        return run_lumiload(args, net.in_controller());
    }

    NetnsPair net;
    VirtualFixtures fixtures;
    std::string dir;
};

std::string joined(const std::vector<std::string> &blocks)
{
    std::string text;
    for (const std::string &block : blocks)
        text += block;
    return text;
}

std::string ip_of(const std::string &block)
{
    size_t at = block.find("    ip=");
    return block.substr(at + 7, block.find('\n', at) - at - 7);
}

}  // namespace

TEST_F(Netns, BroadcastDiscoveryInterfaceChoiceAndSenderFilters)
{
    ASSERT_TRUE(net.create({"2.0.0.1/8"}, {"2.0.0.10/8", "2.0.0.11/8", "2.0.0.12/8", "2.0.0.13/8", "10.0.0.5/8"},
                           {"10.0.0.0/8"}))
        << net.error;
    ASSERT_TRUE(fixtures.start(dir,
                               {"bind=2.0.0.10,bcast=2.255.255.255",
                                "bind=2.0.0.11,bcast=2.255.255.255,reply=broadcast,short=Bcast",
                                // two fixtures claiming one IP Address field: reported once
                                "bind=2.0.0.12,bcast=2.255.255.255,ip=2.0.0.99,long=Twin",
                                "bind=2.0.0.13,bcast=2.255.255.255,ip=2.0.0.99,long=Twin",
                                // answers from outside the controller's subnet
                                "bind=10.0.0.5,bcast=2.255.255.255"},
                               net.in_fixtures()))
        << fixtures.error;

    FixtureLines broadcaster = default_fixture("2.0.0.11");
    broadcaster.port_name = "Bcast";
    FixtureLines twin = default_fixture("2.0.0.12");
    twin.ip = "2.0.0.99";
    twin.long_name = "Twin";
    const std::set<std::string> expected = {fixture_block(default_fixture("2.0.0.10")), fixture_block(broadcaster)};

    // No -s and no -d: the interface in 2.0.0.1's network is chosen and the
    // poll goes to its broadcast address; then the same with -s.
    for (const std::vector<std::string> &args : {std::vector<std::string>{}, {"-s", "2.0.0.1"}}) {
        SCOPED_TRACE(args.empty() ? "no options" : "-s 2.0.0.1");
        ProcessResult r = lumiload(args);
        std::vector<std::string> blocks = fixture_blocks(r.out);
        EXPECT_EQ(r.out, banner() + no_alf_line() + joined(blocks) + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
        ASSERT_EQ(blocks.size(), 3u) << r.out;
        std::set<std::string> seen;
        for (const std::string &block : blocks) {
            if (ip_of(block) == "2.0.0.99") {
                twin.mac = block.find("02:00:02:00:00:0c") != std::string::npos ? "02:00:02:00:00:0c"
                                                                                : "02:00:02:00:00:0d";
                EXPECT_EQ(block, fixture_block(twin));
            } else {
                seen.insert(block);
            }
        }
        EXPECT_EQ(seen, expected);
    }
    std::string log = fixtures.log();
    EXPECT_EQ(lines_with(log, "10.0.0.5: poll from 2.0.0.1 -> replied").size(), 2u)
        << "the foreign fixture did answer; lumiload's subnet test dropped it\n" << log;
    EXPECT_EQ(lines_with(log, "2.0.0.11: poll from 2.0.0.1 -> replied 239 bytes to 2.255.255.255").size(), 2u) << log;

    // Source address 0 switches the subnet test off; with -s it is on.
    ProcessResult any = lumiload({"-d", "10.0.0.5"});
    EXPECT_EQ(any.out, banner() + no_alf_line() + fixture_block(default_fixture("10.0.0.5")) + "\n");
    ProcessResult filtered = lumiload({"-s", "2.0.0.1", "-d", "10.0.0.5"});
    EXPECT_EQ(filtered.out, banner() + no_alf_line() + "\n");
    EXPECT_EQ(filtered.status, 1);
}

TEST_F(Netns, SeveralFixturesNeedMultiUploadAndEachIsUpdated)
{
    ASSERT_TRUE(net.create({"2.0.0.1/8"}, {"2.0.0.10/8", "2.0.0.11/8", "2.0.0.12/8", "2.0.0.13/8"})) << net.error;
    const std::string image = dir + "/fw.alf";
    const std::vector<uint8_t> bytes = write_image(image, image_spec(1, 5, 1000, 9));   // 1.0.5, 3 blocks
    auto spec = [&](const std::string &address, const std::string &more) {
        return "bind=" + address + ",bcast=2.255.255.255,image=" + dir + "/got-" + address + ".alf" + more;
    };
    ASSERT_TRUE(fixtures.start(dir,
                               {spec("2.0.0.10", ""), spec("2.0.0.11", ",fault=middle:type=fail"),
                                spec("2.0.0.12", ""), spec("2.0.0.13", ",version=1.0.5")},
                               net.in_fixtures()))
        << fixtures.error;
    const std::string multiple = "Error: multiple fixtures detected.\n"
                                 "# Connect only one, or specify which to use with -d, or use -m to allow multiple upload.\n";

    // The fixtures that need the image, in the order discovery listed them.
    auto selected = [](const std::vector<std::string> &blocks) {
        std::vector<std::string> ips;
        for (const std::string &block : blocks)
            if (block.find("upgradeStatus=upgrade-required") != std::string::npos)
                ips.push_back(ip_of(block));
        return ips;
    };
    auto discovery = [&](bool test_run, const std::vector<std::string> &blocks) {
        return banner() + (test_run ? "# TEST RUN MODE\n" : "") + header_report(image, bytes) + separator() +
               joined(blocks) + "\n3 fixtures to update\n";
    };

    for (bool test_run : {false, true}) {
        SCOPED_TRACE(test_run ? "-t without -m" : "without -m");
        std::vector<std::string> args = {"-f", image};
        if (test_run)
            args.push_back("-t");
        ProcessResult r = lumiload(args);
        std::vector<std::string> blocks = fixture_blocks(r.out);
        ASSERT_EQ(blocks.size(), 4u) << r.out;
        EXPECT_EQ(r.out, discovery(test_run, blocks));
        EXPECT_EQ(r.err, multiple);
        EXPECT_EQ(r.status, 1);
        std::vector<std::string> ips = selected(blocks);
        std::sort(ips.begin(), ips.end());
        EXPECT_EQ(ips, (std::vector<std::string>{"2.0.0.10", "2.0.0.11", "2.0.0.12"}));
        EXPECT_NE(r.out.find("    ip=2.0.0.13\n"), std::string::npos);
    }

    ProcessResult skipped = lumiload({"-f", image, "-m", "-t"});
    std::vector<std::string> blocks = fixture_blocks(skipped.out);
    std::string expected = discovery(true, blocks);
    for (const std::string &ip : selected(blocks))
        expected += separator() + "Skipped update of fixture at " + ip + " due to -t flag\n";
    EXPECT_EQ(skipped.out, expected);
    EXPECT_EQ(skipped.err, "");
    EXPECT_EQ(skipped.status, 0);
    EXPECT_TRUE(lines_with(fixtures.log(), " block ").empty()) << "a test run uploads nothing";

    // All three are attempted; the one that rejects a block fails the run.
    ProcessResult updated = lumiload({"-f", image, "-m"});
    blocks = fixture_blocks(updated.out);
    expected = discovery(false, blocks);
    for (const std::string &ip : selected(blocks)) {
        expected += separator() + "Uploading to fixture at " + ip + ":\n    blockCount=3\n    progress=";
        expected += ip == "2.0.0.11" ? "F -B\n\n" : "F - LG\n# Firmware uploaded successfully\n";
    }
    EXPECT_EQ(updated.out, expected);
    EXPECT_EQ(updated.err, "    Error: unexpected reply type=255\nError: Firmware upload failed.\n");
    EXPECT_EQ(updated.status, 1);
    const std::string image_text(bytes.begin(), bytes.end());
    EXPECT_EQ(read_text_file(dir + "/got-2.0.0.10.alf"), image_text);
    EXPECT_EQ(read_text_file(dir + "/got-2.0.0.12.alf"), image_text);
    EXPECT_EQ(read_text_file(dir + "/got-2.0.0.11.alf"), "");
    EXPECT_EQ(read_text_file(dir + "/got-2.0.0.13.alf"), "");
}

TEST_F(Netns, SourceAddressTheHostLacksAndNoMatchingInterface)
{
    ASSERT_TRUE(net.create({"2.0.0.1/8"}, {"2.0.0.10/8"})) << net.error;
    ASSERT_TRUE(fixtures.start(dir, {"bind=2.0.0.10,bcast=2.255.255.255"}, net.in_fixtures())) << fixtures.error;

    ProcessResult unbound = lumiload({"-s", "2.0.0.99", "-d", "2.0.0.10"});
    EXPECT_EQ(unbound.out, banner() + no_alf_line());
    EXPECT_EQ(unbound.err, "Error: Failed to bind UDP socket: Cannot assign requested address\n"
                           "Error: run_poll failed\n");
    EXPECT_EQ(unbound.status, 1);

    ProcessResult unmatched = lumiload({"-s", "2.0.0.99"});
    EXPECT_EQ(unmatched.out, banner() + no_alf_line());
    EXPECT_EQ(unmatched.err, "Error: Unable to find matching network interface\n");
    EXPECT_EQ(unmatched.status, 1);

    // A controller whose only interface lies outside 2.0.0.1's network.
    NetnsPair elsewhere;
    ASSERT_TRUE(elsewhere.create({"10.0.0.1/8"}, {"10.0.0.10/8"})) << elsewhere.error;
    ProcessResult none = run_lumiload({}, elsewhere.in_controller());
    EXPECT_EQ(none.out, banner() + no_alf_line());
    EXPECT_EQ(none.err, "Error: Unable to find matching network interface\n");
    EXPECT_EQ(none.status, 1);
    // ...but one named with -s is used although it is not in that network.
    ProcessResult chosen = run_lumiload({"-s", "10.0.0.1"}, elsewhere.in_controller());
    EXPECT_EQ(chosen.out, banner() + no_alf_line() + "\n");
    EXPECT_EQ(chosen.err, "");
    EXPECT_TRUE(lines_with(fixtures.log(), "error").empty()) << fixtures.log();
}

TEST_F(Netns, FiveHundredFixturesAnsweringAtOnceAreAllListed)
{
    ASSERT_TRUE(net.create({"2.0.0.1/8"}, {})) << net.error;
    std::vector<std::string> cidrs;
    for (uint32_t i = 0; i < 500; ++i) {
        uint32_t a = (2u << 24 | 1u << 8 | 1u) + i;   // 2.0.1.1 onwards
        cidrs.push_back(std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." +
                        std::to_string(a >> 8 & 255) + "." + std::to_string(a & 255) + "/8");
    }
    ASSERT_TRUE(net.add_fixture_addresses(cidrs)) << net.error;
    ASSERT_TRUE(fixtures.start(dir, {"bind=2.0.1.1,count=500,bcast=2.255.255.255"}, net.in_fixtures()))
        << fixtures.error;

    ProcessResult r = lumiload({});
    std::vector<std::string> blocks = fixture_blocks(r.out);
    std::set<std::string> ips;
    for (const std::string &block : blocks)
        ips.insert(ip_of(block));
    EXPECT_EQ(blocks.size(), 500u);
    EXPECT_EQ(ips.size(), 500u);
    EXPECT_EQ(ips.count("2.0.1.1"), 1u);
    EXPECT_EQ(ips.count("2.0.2.244"), 1u);
    EXPECT_EQ(r.out, banner() + no_alf_line() + joined(blocks) + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines_with(fixtures.log(), "poll from 2.0.0.1 -> replied").size(), 500u);
}
