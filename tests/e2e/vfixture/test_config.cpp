// What the virtual fixture's configuration refuses; what it accepts is
// used by every end-to-end row.
#include <gtest/gtest.h>

#include "config.h"

TEST(VfixtureConfig, RejectedSpecs)
{
    const char *bad[] = {
        "ip=1.2.3.4",                              // no bind
        "bind=1.2.3",                              // bad address
        "bind=1.2.3.4,colour=red",                 // unknown key
        "bind=1.2.3.4,version=1.26.0",             // minor * 10 + patch > 255
        "bind=1.2.3.4,short=0123456789abcdefghi",  // 19 bytes
        "bind=1.2.3.4,short=\\xZZ",                // bad escape
        "bind=1.2.3.4,poll-from=alt",              // alt missing
        "bind=1.2.3.4,fault=first:alt",            // alt missing
        "bind=1.2.3.4,fault=second:drop",          // bad selector
        "bind=1.2.3.4,fault=1:explode",            // bad action
        "bind=1.2.3.4,fault=1:drop*0",             // count 0
        "bind=1.2.3.4,length=0",
    };
    for (const char *spec : bad) {
        std::vector<FixtureConfig> fixtures;
        std::string error;
        EXPECT_FALSE(parse_fixture_spec(spec, &fixtures, &error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
}
