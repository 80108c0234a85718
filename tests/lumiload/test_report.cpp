// The report of the runs that end before the network (help, the test-run
// line, the header block and every rejection of an image) through the real
// program; tests/windows runs the same rows under Wine.
#include <gtest/gtest.h>

#include "harness.h"

TEST(Report, RunsThatEndBeforeTheNetwork)
{
    // Every row names 127.0.61.1; a fixture there holds its port, so a run
    // that gets as far as its socket stops there.
    const TempDir dir;
    VirtualFixtures holder;
    ASSERT_TRUE(holder.start(dir.path, {"bind=127.0.61.1"})) << holder.error;
    for (const OfflineCase &c : offline_cases(dir.path)) {
        SCOPED_TRACE(c.name);
        const ProcessResult r = run_program(bin_path("lumiload"), c.args, 30, {}, dir.path);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
    }
}
