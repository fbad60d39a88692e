// Choosing an interface and the advice given when no router answers.
#include <gtest/gtest.h>

#include "app/DiscoveryHint.h"
#include "app/RouterOverrides.h"
#include "net/CNetInterfaces.h"

namespace {

NetInterface Entry(const std::string& name, std::array<uint8_t, 4> address, bool up = true, bool running = true)
{
    NetInterface e;
    e.name = name;
    e.address = address;
    e.prefixLength = 24;
    e.broadcast = {address[0], address[1], address[2], 255};
    e.hasBroadcast = true;
    e.up = up;
    e.running = up && running;
    return e;
}

// A laptop: Wi-Fi and a cable to the router on the same home subnet, a wired port that is
// down, a tunnel without IPv4.
CNetInterfaces Laptop()
{
    NetInterface lo = Entry("lo", {127, 0, 0, 1});
    lo.prefixLength = 8;
    lo.hasBroadcast = false;
    lo.loopback = true;
    return CNetInterfaces({lo, Entry("wlan0", {192, 168, 1, 50}), Entry("eth1", {192, 168, 1, 100}),
                           Entry("eth0", {10, 0, 0, 5}, false)},
                          {"tun0"});
}

bool Contains(const std::vector<std::string>& lines, const std::string& piece)
{
    for (const std::string& line : lines) {
        if (line.find(piece) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

TEST(InterfaceChoiceTest, BadNamesAreRefusedWithTheListOfInterfaces)
{
    const CNetInterfaces laptop = Laptop();
    const std::string list =
        "Interfaces here: lo 127.0.0.1/8, wlan0 192.168.1.50/24, eth1 192.168.1.100/24, "
        "eth0 10.0.0.5/24 (down), tun0 (no IPv4 address).";
    struct Case {
        std::string name;
        std::string message;
    };
    const Case cases[] = {
        {"eth7", "there is no network interface named \"eth7\"."},
        {std::string(200, 'e'), "there is no network interface named \"" + std::string(40, 'e') + "...\"."},
        {"tun0", "the network interface tun0 has no IPv4 address."},
        {"eth0", "the network interface eth0 is down"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20));
        RouterOverrides overrides;
        overrides.interfaceName = c.name;
        std::string error;
        EXPECT_FALSE(ResolveInterface(overrides, laptop, &error));
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
        EXPECT_NE(error.find(list), std::string::npos) << error;
        EXPECT_EQ(overrides.targets, RouterOverrides().targets); // untouched
    }
}

TEST(InterfaceChoiceTest, DiscoveryGoesToTheInterfaceBroadcastUnlessTheUserChoseTargets)
{
    const CNetInterfaces laptop = Laptop();
    RouterOverrides none;
    EXPECT_TRUE(ResolveInterface(none, laptop, nullptr));
    EXPECT_EQ(none.targets, RouterOverrides().targets);

    RouterOverrides chosen;
    chosen.interfaceName = "eth1";
    ASSERT_TRUE(ResolveInterface(chosen, laptop, nullptr));
    EXPECT_EQ(chosen.targets, (std::vector<std::array<uint8_t, 4>>{{192, 168, 1, 255}, {255, 255, 255, 255}}));

    RouterOverrides given;
    given.interfaceName = "eth1";
    given.targets = {{255, 255, 255, 255}};
    given.bTargetsGiven = true;
    ASSERT_TRUE(ResolveInterface(given, laptop, nullptr));
    EXPECT_EQ(given.targets, (std::vector<std::array<uint8_t, 4>>{{255, 255, 255, 255}}));

    // Loopback has no broadcast address: only the limited broadcast is left.
    RouterOverrides loopback;
    loopback.interfaceName = "lo";
    ASSERT_TRUE(ResolveInterface(loopback, laptop, nullptr));
    EXPECT_EQ(loopback.targets, (std::vector<std::array<uint8_t, 4>>{{255, 255, 255, 255}}));
}

TEST(DiscoveryHintTest, NamesTheInterfacesThatShareTheTargetsSubnet)
{
    const std::vector<std::string> hint = BuildDiscoveryHint(Laptop(), RouterOverrides().targets, "", 1280);
    EXPECT_EQ(hint.front(), "Interfaces that are up: wlan0 192.168.1.50/24, eth1 192.168.1.100/24.");
    EXPECT_TRUE(Contains(hint, "wlan0 and eth1 are both on the subnet of 192.168.1.255 (192.168.1.0/24)"));
    EXPECT_TRUE(Contains(hint, "--interface eth1"));
    EXPECT_TRUE(Contains(hint, "--target ADDRESS"));
    EXPECT_TRUE(Contains(hint, "LAN ports"));
    EXPECT_EQ(hint.back(), "A firewall on this PC must let UDP replies from the router's port 1280 in.");
    EXPECT_FALSE(Contains(hint, "255.255.255.255")); // every interface could reach that one
    EXPECT_EQ(JoinHint({"a", "b"}), "a\nb");
}

TEST(DiscoveryHintTest, SaysWhenNoInterfaceIsOnTheSubnetOrTheChosenOneHasNoLink)
{
    const CNetInterfaces office({Entry("eth0", {10, 0, 0, 5})});
    std::vector<std::string> hint = BuildDiscoveryHint(office, RouterOverrides().targets, "", 1280);
    EXPECT_TRUE(Contains(hint, "No interface that is up is on the subnet of 192.168.1.255 (192.168.1.0/24)."));

    hint = BuildDiscoveryHint(CNetInterfaces(), RouterOverrides().targets, "", 1280);
    EXPECT_EQ(hint.front(), "No network interface apart from loopback is up.");

    const CNetInterfaces unplugged({Entry("eth1", {192, 168, 1, 100}, true, false)});
    hint = BuildDiscoveryHint(unplugged, {{192, 168, 1, 255}, {255, 255, 255, 255}}, "eth1", 4000);
    EXPECT_EQ(hint[0], "The discovery went out through eth1 192.168.1.100/24 (no link) only.");
    EXPECT_EQ(hint[1], "eth1 has no link: is the cable plugged in and the router switched on?");
    EXPECT_EQ(hint[2], "eth1 is on the subnet of 192.168.1.255 (192.168.1.0/24).");
    EXPECT_FALSE(Contains(hint, "--interface")); // already chosen
    EXPECT_EQ(hint.back(), "A firewall on this PC must let UDP replies from the router's port 4000 in.");
}
