// Choosing the interface that faces the fixtures, on hand-built lists.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>

#include "netif.h"

namespace {

uint32_t ip(const char *text) { return inet_addr(text); }
std::string text(uint32_t address) { return inet_ntoa(in_addr {address}); }

const uint32_t LAN = IFACE_UP | IFACE_BROADCAST;

class InterfaceList : public ::testing::Test {
protected:
    void TearDown() override { free_interface_list(list_); }
    void add(const char *address, unsigned prefix, uint32_t flags = LAN)
    {
        ASSERT_NE(append_interface(&list_, "eth", flags, ip(address), prefix_netmask(prefix)), nullptr);
    }
    bool choose(uint32_t source)
    {
        chosen_ = SourceInterface {};
        return match_source_interface(list_, source, &chosen_);
    }
    InterfaceEntry *list_ = nullptr;
    SourceInterface chosen_ {};
};

TEST_F(InterfaceList, ArtNetNetworkIsChosenWithItsBroadcast)
{
    add("2.0.0.10", 8);
    ASSERT_TRUE(choose(0));
    EXPECT_EQ(text(chosen_.address), "2.0.0.10");
    EXPECT_EQ(text(chosen_.netmask), "255.0.0.0");
    EXPECT_EQ(text(chosen_.broadcast), "2.255.255.255");
}

TEST_F(InterfaceList, ArtNetNetworkWinsWhateverTheOrder)
{
    add("10.0.0.5", 8);
    add("2.1.2.3", 8);
    ASSERT_TRUE(choose(0));
    EXPECT_EQ(text(chosen_.address), "2.1.2.3");
}

TEST_F(InterfaceList, NoMatchOutsideTheArtNetNetwork)
{
    add("192.168.1.10", 24);
    EXPECT_FALSE(choose(0));
}

TEST_F(InterfaceList, SourceAddressSelectsItsInterfaceOnlyWhenUp)
{
    add("10.0.0.5", 8);
    ASSERT_TRUE(choose(ip("10.0.0.5")));
    EXPECT_EQ(text(chosen_.broadcast), "10.255.255.255");
    EXPECT_FALSE(choose(ip("10.0.0.6")));

    free_interface_list(list_);
    list_ = nullptr;
    add("10.0.0.5", 8, IFACE_BROADCAST);  // down
    EXPECT_FALSE(choose(ip("10.0.0.5")));
}

TEST_F(InterfaceList, LoopbackAndPointToPointAreNeverChosen)
{
    add("2.0.0.1", 8, IFACE_UP | IFACE_LOOPBACK | IFACE_BROADCAST);
    add("2.0.0.2", 8, IFACE_UP);  // no broadcast: point-to-point
    EXPECT_FALSE(choose(0));
    EXPECT_FALSE(choose(ip("2.0.0.2")));
    EXPECT_EQ(list_->next->broadcast, nullptr);
}

TEST_F(InterfaceList, PrefixLengthsAndBroadcasts)
{
    add("10.1.2.3", 20);
    ASSERT_TRUE(choose(ip("10.1.2.3")));
    EXPECT_EQ(text(chosen_.netmask), "255.255.240.0");
    EXPECT_EQ(text(chosen_.broadcast), "10.1.15.255");
    EXPECT_EQ(text(prefix_netmask(24)), "255.255.255.0");
    EXPECT_EQ(text(prefix_netmask(32)), "255.255.255.255");
    EXPECT_EQ(text(prefix_netmask(0)), "0.0.0.0");
}

TEST_F(InterfaceList, ZeroPrefixHoldsTheArtNetAddress)
{
    add("172.16.0.1", 0);
    ASSERT_TRUE(choose(0));
    EXPECT_EQ(text(chosen_.netmask), "0.0.0.0");
}

TEST(HostInterfaces, EnumerationListsLoopback)
{
    InterfaceEntry *list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    bool loopback = false;
    for (const InterfaceEntry *e = list; e; e = e->next)
        loopback = loopback || ((e->flags & IFACE_LOOPBACK) && e->address->addr == ip("127.0.0.1"));
    free_interface_list(list);
    EXPECT_TRUE(loopback);
    EXPECT_EQ(getifaddrs(nullptr), -1);
}

TEST(Pause, SleepsAtLeastTheRequestedTime)
{
    const auto start = std::chrono::steady_clock::now();
    sleep_microseconds(50000);
    const auto slept = std::chrono::steady_clock::now() - start;
    EXPECT_GE(slept, std::chrono::microseconds(50000));

    const auto again = std::chrono::steady_clock::now();
    sleep_microseconds(0);
    EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(50));
}

}  // namespace
