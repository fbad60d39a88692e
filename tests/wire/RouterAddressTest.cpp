#include <gtest/gtest.h>

#include "tests/support/ScopedEnv.h"
#include "wire/RouterAddress.h"

using kivtest::ScopedEnv;

TEST(RouterAddress, DottedAddressesHaveOneRule)
{
    const struct {
        const char* text;
        std::array<uint8_t, 4> address;
    } good[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"0.0.0.0", {0, 0, 0, 0}},
        {"255.255.255.255", {255, 255, 255, 255}},
        {"192.168.1.255", {192, 168, 1, 255}},
        {"10.100.0.9", {10, 100, 0, 9}},
    };
    for (const auto& g : good) {
        std::array<uint8_t, 4> a{};
        EXPECT_TRUE(ParseIpv4(g.text, a)) << g.text;
        EXPECT_EQ(a, g.address) << g.text;
        EXPECT_EQ(FormatIpv4(a), g.text);
    }
    EXPECT_EQ(FormatMac(std::array<uint8_t, 6>{0x00, 0x1A, 0x2B, 0xC3, 0xD4, 0xFF}), "00-1A-2B-C3-D4-FF");
    // Leading zeros are refused: "010" is 8 to a reader that takes it as octal.
    for (const char* bad :
         {"",           "1.2.3",      "1.2.3.4.5", "256.1.1.1", "1.2.3.x",  " 1.2.3.4",  "1.2.3.4 ",
          "1..2.3",     "1.2.3.0004", "010.0.0.1", "1.2.3.04",  "00.1.1.1", "+1.2.3.4",  "1.2.3.-4",
          "0x7f.0.0.1", "127.1",      "1.2.3.4.",  ".1.2.3",    "1,2,3,4",  "localhost", "1.2.3.1000"}) {
        std::array<uint8_t, 4> a{9, 9, 9, 9};
        EXPECT_FALSE(ParseIpv4(bad, a)) << bad;
        EXPECT_EQ(a, (std::array<uint8_t, 4>{9, 9, 9, 9})) << bad;
    }
    std::array<uint8_t, 4> a{};
    EXPECT_FALSE(ParseIpv4(std::string("1.2.3.4\0", 8), a));
}

TEST(RouterAddress, LoopbackIsTheWhole127Network)
{
    EXPECT_TRUE(IsLoopbackIpv4({127, 0, 0, 1}));
    EXPECT_TRUE(IsLoopbackIpv4({127, 255, 255, 254}));
    EXPECT_FALSE(IsLoopbackIpv4({126, 255, 255, 255}));
    EXPECT_FALSE(IsLoopbackIpv4({128, 0, 0, 1}));
    EXPECT_FALSE(IsLoopbackIpv4({192, 168, 1, 1}));
}

TEST(RouterAddress, PortsAndTheRouterPortSetting)
{
    uint16_t port = 7;
    EXPECT_TRUE(ParsePort("65535", port));
    EXPECT_EQ(port, 65535);
    EXPECT_TRUE(ParsePort("1", port));
    EXPECT_EQ(port, 1);
    for (const char* bad : {"", "0", "65536", "12a", "-1", "+80", " 80", "123456"})
        EXPECT_FALSE(ParsePort(bad, port)) << bad;
    EXPECT_EQ(port, 1);

    std::string problem = "left over";
    {
        ScopedEnv unset("KIV_ROUTER_PORT", std::nullopt);
        EXPECT_EQ(RouterPortSetting(&problem), 1280);
        EXPECT_EQ(problem, "");
    }
    {
        ScopedEnv set("KIV_ROUTER_PORT", "8080");
        EXPECT_EQ(RouterPortSetting(&problem), 8080);
        EXPECT_EQ(problem, "");
    }
    {
        ScopedEnv empty("KIV_ROUTER_PORT", "");
        EXPECT_EQ(RouterPortSetting(&problem), 1280);
        EXPECT_EQ(problem, "");
    }
    for (const char* bad : {"80x", "0", "70000", " 80"}) {
        ScopedEnv set("KIV_ROUTER_PORT", bad);
        EXPECT_EQ(RouterPortSetting(&problem), 1280) << bad;
        EXPECT_EQ(problem, "KIV_ROUTER_PORT is not a port number; ignored.") << bad;
        EXPECT_EQ(RouterPortSetting(), 1280) << bad;
    }
}
