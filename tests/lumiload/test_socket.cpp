// The Art-Net endpoint over real UDP sockets on loopback.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "socket.h"

namespace {

uint32_t ip(const char *text) { return inet_addr(text); }

class Endpoint : public ::testing::Test {
protected:
    void SetUp() override
    {
        a_ = open_artnet_socket(ip("127.0.0.71"));
        b_ = open_artnet_socket(ip("127.0.0.72"));
        ASSERT_TRUE(artnet_socket_is_open(a_));
        ASSERT_TRUE(artnet_socket_is_open(b_));
    }
    void TearDown() override
    {
        close_artnet_socket(&a_);
        close_artnet_socket(&b_);
    }
    void send_to_b(size_t length)
    {
        std::vector<uint8_t> data(length, 0x5A);
        int error = 0;
        ASSERT_TRUE(send_datagram(&a_, ip("127.0.0.72"), data.data(), data.size(), &error));
    }
    ArtSocket a_, b_;
};

TEST_F(Endpoint, DatagramArrivesWithItsSender)
{
    send_to_b(22);
    ASSERT_TRUE(set_receive_timeout(&b_, 1000));
    uint8_t buffer[512];
    uint32_t sender = 0;
    int error = 0;
    EXPECT_EQ(receive_datagram(&b_, buffer, sizeof buffer, &sender, &error), 22);
    EXPECT_EQ(sender, ip("127.0.0.71"));
    EXPECT_EQ(buffer[21], 0x5A);
}

TEST_F(Endpoint, TimeOutIsRecognised)
{
    ASSERT_TRUE(set_receive_timeout(&b_, 10));
    uint8_t buffer[64];
    uint32_t sender = 0;
    int error = 0;
    EXPECT_EQ(receive_datagram(&b_, buffer, sizeof buffer, &sender, &error), -1);
    EXPECT_TRUE(is_receive_timeout(error));
}

TEST_F(Endpoint, OversizeDatagramIsLostNotCut)
{
    send_to_b(40);
    send_to_b(36);
    ASSERT_TRUE(set_receive_timeout(&b_, 1000));
    uint8_t buffer[36];
    uint32_t sender = 0;
    int error = 0;
    EXPECT_EQ(receive_datagram(&b_, buffer, sizeof buffer, &sender, &error), -1);
    EXPECT_FALSE(is_receive_timeout(error));
    EXPECT_EQ(error, EMSGSIZE);
    // The oversize one is gone; the next datagram is the 36-byte one.
    EXPECT_EQ(receive_datagram(&b_, buffer, sizeof buffer, &sender, &error), 36);
}

TEST_F(Endpoint, SecondSocketOnTheSameAddressFailsToBind)
{
    testing::internal::CaptureStderr();
    ArtSocket again = open_artnet_socket(ip("127.0.0.71"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(artnet_socket_is_open(again));
    EXPECT_EQ(err, "Error: Failed to bind UDP socket: Address already in use\n");
}

TEST(EndpointAddress, DottedQuadParsing)
{
    EXPECT_EQ(parse_ipv4_address("2.0.0.1"), ip("2.0.0.1"));
    EXPECT_EQ(parse_ipv4_address("0.0.0.0"), 0u);
    EXPECT_EQ(parse_ipv4_address("not an address"), 0xFFFFFFFFu);
    EXPECT_EQ(parse_ipv4_address("2.0.0.256"), 0xFFFFFFFFu);
}

}  // namespace
