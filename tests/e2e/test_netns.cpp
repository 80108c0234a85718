// lumiload end to end inside private network namespaces (root only): the
// controller namespace holds 2.0.0.1/8, the fixtures namespace the
// fixtures' addresses. Here lumiload chooses its interface itself and
// broadcasts, as on a real rig, without reaching any real network.
#include <gtest/gtest.h>

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
