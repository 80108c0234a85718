// The virtual fixture's configuration: fixture specs, escapes, fault rules.
#include <gtest/gtest.h>

#include "config.h"

TEST(VfixtureConfig, DefaultsFollowTheBindAddress)
{
    std::vector<FixtureConfig> fixtures;
    std::string error;
    ASSERT_TRUE(parse_fixture_spec("bind=2.0.0.10", &fixtures, &error)) << error;
    ASSERT_EQ(fixtures.size(), 1u);
    const FixtureConfig &f = fixtures[0];
    EXPECT_EQ(format_address(f.bind), "2.0.0.10");
    EXPECT_EQ(f.ip_field, f.bind);
    EXPECT_EQ(f.long_name, "Virtual fixture 2.0.0.10");
    const uint8_t mac[6] = {0x02, 0x00, 2, 0, 0, 10};
    EXPECT_EQ(0, memcmp(f.mac, mac, 6));
    EXPECT_EQ(f.reply_length, 239u);
    EXPECT_EQ(f.esta, 0x4D2A);
    EXPECT_EQ(f.reply, ReplyMode::Unicast);
}

TEST(VfixtureConfig, EveryKey)
{
    std::vector<FixtureConfig> fixtures;
    std::string error;
    ASSERT_TRUE(parse_fixture_spec("bind=127.0.0.11,ip=10.1.2.3,alt=127.0.0.21,bcast=2.255.255.255,"
                                   "reply=broadcast,poll-from=alt,version=2.3.5,oem=0x1234,esta=0x2a4d,"
                                   "short=A\\x01\\x2cB\\\\,long=L\\x7f,mac=aa:bb:cc:dd:ee:ff,length=207,"
                                   "image=/tmp/x.alf,fault=last:type=good",
                                   &fixtures, &error))
        << error;
    const FixtureConfig &f = fixtures[0];
    EXPECT_EQ(format_address(f.ip_field), "10.1.2.3");
    EXPECT_EQ(format_address(f.alt), "127.0.0.21");
    EXPECT_EQ(format_address(f.broadcast), "2.255.255.255");
    EXPECT_EQ(f.reply, ReplyMode::Broadcast);
    EXPECT_TRUE(f.poll_reply_from_alt);
    EXPECT_EQ(f.version_hi, 2);
    EXPECT_EQ(f.version_lo, 35);
    EXPECT_EQ(f.oem, 0x1234);
    EXPECT_EQ(f.esta, 0x2A4D);
    EXPECT_EQ(f.short_name, std::string("A\x01,B\\"));
    EXPECT_EQ(f.long_name, "L\x7f");
    EXPECT_EQ(f.mac[0], 0xAA);
    EXPECT_EQ(f.mac[5], 0xFF);
    EXPECT_EQ(f.reply_length, 207u);
    EXPECT_EQ(f.image_path, "/tmp/x.alf");
    ASSERT_EQ(f.faults.size(), 1u);
    EXPECT_EQ(f.faults[0].action, FaultRule::Action::Type);
    EXPECT_EQ(f.faults[0].value, 0u);
}

TEST(VfixtureConfig, CountPlaysConsecutiveAddresses)
{
    std::vector<FixtureConfig> fixtures;
    std::string error;
    ASSERT_TRUE(parse_fixture_spec("bind=2.0.1.254,count=3,image=/tmp/img-%a.alf", &fixtures, &error)) << error;
    ASSERT_EQ(fixtures.size(), 3u);
    EXPECT_EQ(format_address(fixtures[2].bind), "2.0.2.0");
    EXPECT_EQ(fixtures[2].ip_field, fixtures[2].bind);
    EXPECT_EQ(fixtures[1].image_path, "/tmp/img-2.0.1.255.alf");
    EXPECT_EQ(fixtures[1].mac[5], 255);
}

TEST(VfixtureConfig, VersionBytesAndRejectedSpecs)
{
    std::vector<FixtureConfig> fixtures;
    std::string error;
    ASSERT_TRUE(parse_fixture_spec("bind=1.2.3.4,version-bytes=1:255", &fixtures, &error));
    EXPECT_EQ(fixtures[0].version_lo, 255);

    const char *bad[] = {
        "ip=1.2.3.4",                        // no bind
        "bind=1.2.3",                        // bad address
        "bind=1.2.3.4,colour=red",           // unknown key
        "bind=1.2.3.4,version=1.26.0",       // minor*10+patch > 255
        "bind=1.2.3.4,short=0123456789abcdefghi",  // 19 bytes
        "bind=1.2.3.4,short=\\xZZ",          // bad escape
        "bind=1.2.3.4,poll-from=alt",        // alt missing
        "bind=1.2.3.4,fault=first:alt",      // alt missing
        "bind=1.2.3.4,fault=second:drop",    // bad selector
        "bind=1.2.3.4,fault=1:explode",      // bad action
        "bind=1.2.3.4,fault=1:drop*0",       // count 0
        "bind=1.2.3.4,length=0",
    };
    for (const char *spec : bad) {
        error.clear();
        EXPECT_FALSE(parse_fixture_spec(spec, &fixtures, &error)) << spec;
        EXPECT_FALSE(error.empty()) << spec;
    }
}

TEST(VfixtureConfig, ConfigFileLines)
{
    std::vector<FixtureConfig> fixtures;
    std::string error;
    ASSERT_TRUE(parse_config_text("# rig\n\nbind=2.0.0.10\n  bind=2.0.0.11,version=2.0.0  \r\n", &fixtures, &error));
    ASSERT_EQ(fixtures.size(), 2u);
    EXPECT_EQ(fixtures[1].version_hi, 2);
    EXPECT_FALSE(parse_config_text("bind=2.0.0.10\nbind=x\n", &fixtures, &error));
    EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
}

struct FaultRow {
    const char *text;
    FaultRule::Action action;
    uint32_t value;
    uint32_t count;
    // blocks selected in an upload of 5 blocks
    std::vector<uint32_t> selected;
};

TEST(VfixtureConfig, FaultRules)
{
    const FaultRow rows[] = {
        {"first:drop*3", FaultRule::Action::Drop, 0, 3, {0}},
        {"2:delay=120", FaultRule::Action::Delay, 120, 1, {2}},
        {"last:type=good", FaultRule::Action::Type, 0, 1, {4}},
        {"middle:type=allgood", FaultRule::Action::Type, 1, 1, {2}},
        {"all:type=fail*all", FaultRule::Action::Type, 255, 0, {0, 1, 2, 3, 4}},
        {"1:type=7", FaultRule::Action::Type, 7, 1, {1}},
        {"first:proto=13*2", FaultRule::Action::Protocol, 13, 2, {0}},
        {"last:alt", FaultRule::Action::FromAlt, 0, 1, {4}},
        {"3:oversize=40", FaultRule::Action::Oversize, 40, 1, {3}},
    };
    for (const FaultRow &row : rows) {
        FaultRule rule;
        std::string error;
        ASSERT_TRUE(parse_fault(row.text, &rule, &error)) << row.text << ": " << error;
        EXPECT_EQ(rule.action, row.action) << row.text;
        EXPECT_EQ(rule.value, row.value) << row.text;
        EXPECT_EQ(rule.count, row.count) << row.text;
        std::vector<uint32_t> selected;
        for (uint32_t i = 0; i < 5; ++i)
            if (fault_selects(rule, i, 5))
                selected.push_back(i);
        EXPECT_EQ(selected, row.selected) << row.text;
    }
    FaultRule middle;
    std::string error;
    ASSERT_TRUE(parse_fault("middle:drop", &middle, &error));
    EXPECT_FALSE(fault_selects(middle, 1, 2)) << "two blocks have no middle";
}
