// The desktop program's own options, read before the display is opened.
#include <gtest/gtest.h>

#include <string>

#include "app/WindowCommandLine.h"
#include "tests/support/TempDir.h"

namespace {

using Args = std::vector<std::string>;

TEST(WindowCommandLine, TheCommandLinesRouterOptionsAreTaken)
{
    kivtest::TempDir images;
    const WindowCommandLine parsed =
        ParseWindowCommandLine({"kivupgrade", "--target", "127.0.0.2", "--target=127.0.0.1", "--router-port", "1281",
                                "--telnet-port=2323", "--images", images.Path(), "--interface", "eth1", "--time-scale",
                                "0.05", "-platform", "offscreen", "--style=fusion", "-reverse"});
    ASSERT_EQ(parsed.status, -1) << parsed.error;
    const WindowOptions& o = parsed.options;
    EXPECT_EQ(o.targets, (std::vector<std::array<uint8_t, 4>>{{127, 0, 0, 2}, {127, 0, 0, 1}}));
    EXPECT_EQ(o.routerPort, 1281);
    EXPECT_EQ(o.telnetPort, 2323);
    EXPECT_EQ(o.imagesDir, images.Path());
    EXPECT_EQ(o.interfaceName, "eth1");
    EXPECT_EQ(o.timeScale, 0.05);
    EXPECT_TRUE(o.platformGiven);

    // The options win over the environment's overrides, as on the command line.
    const RouterOverrides overrides = WindowRouterOverrides(o);
    EXPECT_EQ(overrides.targets, o.targets);
    EXPECT_TRUE(overrides.bTargetsGiven);
    EXPECT_EQ(overrides.routerPort, 1281);
    EXPECT_EQ(overrides.telnetPort, 2323);
    EXPECT_EQ(overrides.interfaceName, "eth1");
    EXPECT_TRUE(overrides.timeScaleAnyRouter);

    const std::string help = WindowHelpText();
    for (const char* named : {"--target ADDR", "--router-port N", "--telnet-port N", "--images DIR", "--interface NAME",
                              "--time-scale S", "KIV_INTERFACE", "KIV_DISCOVERY_TARGETS"})
        EXPECT_NE(help.find(named), std::string::npos) << named;
}

// Anything that is neither the window's option nor Qt's is a usage error (status 2) that
// names the culprit, before any display is needed.
TEST(WindowCommandLine, UnknownOptionsAndBadValuesAreUsageErrors)
{
    const struct {
        Args args;
        const char* named;
    } CASES[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"stray"}, "unexpected argument: stray"},
        {{"--target", "1.2.3"}, "--target: not a dotted IPv4 address: 1.2.3"},
        {{"--router-port", "0"}, "--router-port: not a port number"},
        {{"--telnet-port=70000"}, "--telnet-port: not a port number"},
        {{"--images", "/no/such/directory"}, "--images: not a directory"},
        {{"--time-scale", "-1"}, "--time-scale: not a positive number"},
        {{"--interface"}, "--interface needs a value"},
        {{"--interface="}, "--interface needs the name of a network interface"},
        {{"-platform"}, "-platform needs a value"},
    };
    for (const auto& c : CASES) {
        Args args = c.args;
        args.insert(args.begin(), "kivupgrade");
        const WindowCommandLine parsed = ParseWindowCommandLine(args);
        EXPECT_EQ(parsed.status, 2) << c.named;
        EXPECT_NE(parsed.error.find(c.named), std::string::npos) << parsed.error;
        EXPECT_EQ(parsed.output, "");
    }
    const WindowCommandLine help = ParseWindowCommandLine({"kivupgrade", "--bogus-later", "-h"});
    EXPECT_EQ(help.status, 2) << "the first problem decides";
    EXPECT_EQ(ParseWindowCommandLine({"kivupgrade", "--help"}).status, 0);
    EXPECT_EQ(ParseWindowCommandLine({"kivupgrade", "--version"}).output.rfind("kivupgrade ", 0), 0u);
}

} // namespace
