// The report of the runs that end before the network (help, the test-run
// line, the header block, every rejection of an image, and a port that
// another program holds) through the real program; tests/windows runs the
// same rows under Wine.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include "harness.h"

TEST(Report, RunsThatEndBeforeTheNetwork)
{
    const TempDir dir;
    // Another program holds the port at 127.0.61.2, for the last run.
    VirtualFixtures other;
    ASSERT_TRUE(other.start(dir.path, {"bind=127.0.61.2"})) << other.error;
    // Every row names 127.0.61.1, whose port the test holds, offering to share
    // it: a run that gets to its socket stops there, unless it offers too.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    const int reuse = 1;
    setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(6454);
    address.sin_addr.s_addr = inet_addr("127.0.61.1");
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    for (const OfflineCase &c : offline_cases(dir.path)) {
        SCOPED_TRACE(c.name);
        const ProcessResult r = run_program(bin_path("lumiload"), c.args, 30, {}, dir.path);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
    }
    // The holder named is the one on the address asked for, not the test.
    const ProcessResult r = run_program(bin_path("lumiload"), {"-s", "127.0.61.2", "-d", "127.0.61.3"}, 30);
    EXPECT_EQ(r.err, "Error: Failed to bind UDP socket: Address already in use\n    Port 6454 is in use by vfixture (pid " +
                         std::to_string(other.pid()) + ").\nError: run_poll failed\n");
    close(holder);
}
