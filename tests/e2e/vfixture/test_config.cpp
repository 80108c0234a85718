// What the virtual fixture's configuration refuses, and config files; what
// it accepts is used by every end-to-end row.
#include <gtest/gtest.h>

#include "config.h"

TEST(VfixtureConfig, RefusedSpecsAndConfigFiles)
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
        "bind=1.2.3.4,fault=reboot:drop",          // a restart is not a block
        "bind=1.2.3.4,fault=last:never",
        "bind=255.255.255.250,count=7",            // past the last address
        "bind=1.2.3.4,count=2,successor=1",        // one address, one successor
        "bind=1.2.3.4,again=0",
    };
    std::vector<FixtureConfig> fixtures;
    std::string error;
    for (const char *spec : bad) {
        EXPECT_FALSE(parse_fixture_spec(spec, &fixtures, &error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
    // A config file: comments and blank lines skipped, errors name the line.
    ASSERT_TRUE(parse_config_text("# rig\n\n  bind=2.0.1.254,count=3,image=/tmp/%a.alf \r\n", &fixtures, &error)) << error;
    EXPECT_EQ(fixtures.at(1).image_path, "/tmp/2.0.1.255.alf");
    EXPECT_FALSE(parse_config_text("bind=2.0.0.10\nbind=x\n", &fixtures, &error));
    EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
}
