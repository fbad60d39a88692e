#include <gtest/gtest.h>

#include "app/CVersionCheck.h"
#include "app/RouterOverrides.h"
#include "engine/ComponentEntry.h"
#include "tests/support/TestComponentTable.h"

namespace {

TEST(VersionRules, ValidVersionTable)
{
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"1.2.3.4", true},
        {"10.0.1.", true},    // ends with its third dot
        {"1.2.3.B100", true}, // nothing after the third dot is examined
        {"2.1.5.0", true},
        {"1.2.3", false},    // only two dots
        {"V1.2.3.4", false}, // letter before the third dot
        {"1..2.3.4", false}, // empty group
        {".1.2.3", false},   // dot first
        {"", false},
        {"1.2.3.4 ", true},
        {"1.2 .3.4", false},
        {"#", false},
        {"nvram get app_version", false},
        {"Failed to read", false},
        {"Can't read in force-load mode", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CVersionCheck::IsValidVersion(c.text), c.valid) << '"' << c.text << '"';
}

TEST(VersionRules, ParseTakesThreeEndedNumbers)
{
    using V = std::array<unsigned, 3>;
    EXPECT_EQ(CVersionCheck::ParseVersion("1.2.3.4"), (V{1, 2, 3}));
    EXPECT_EQ(CVersionCheck::ParseVersion("1.2.3"), (V{1, 2, 0})); // a running number is dropped
    EXPECT_EQ(CVersionCheck::ParseVersion("10.20.30."), (V{10, 20, 30}));
    EXPECT_EQ(CVersionCheck::ParseVersion("v2.x1-7 9"), (V{2, 1, 7}));
    EXPECT_EQ(CVersionCheck::ParseVersion(""), (V{0, 0, 0}));
    EXPECT_EQ(CVersionCheck::ParseVersion("42"), (V{0, 0, 0}));
}

TEST(VersionRules, CompareLooksAtFirstTwoNumbersOnly)
{
    EXPECT_EQ(CVersionCheck::CompareVersions("2.1.5.0", "2.1.7.1"), 1);
    EXPECT_EQ(CVersionCheck::CompareVersions("2.1.5.0", "3.0.0.0"), 0);
    EXPECT_EQ(CVersionCheck::CompareVersions("1.2.9.0", "1.2.3.0"), 1); // older image accepted
    EXPECT_EQ(CVersionCheck::CompareVersions("1.2.3.0", "1.3.0.0"), 0);
    EXPECT_EQ(CVersionCheck::CompareVersions("1.2.3.B1", "1.2.3.B1"), 1);
    // A current version that was not read never refuses the upgrade.
    EXPECT_EQ(CVersionCheck::CompareVersions("", "9.9.9.9"), 1);
    EXPECT_EQ(CVersionCheck::CompareVersions("Failed to read", "9.9.9.9"), 1);
    EXPECT_EQ(CVersionCheck::CompareVersions("1.2.3.4", "No version"), 1);
}

TEST(RouterOverrides, ParsesTargetLists)
{
    std::vector<std::array<uint8_t, 4>> list{{9, 9, 9, 9}};
    EXPECT_TRUE(ParseTargetList("127.0.0.1,127.0.0.2", list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(FormatIpv4(list[1]), "127.0.0.2");
    EXPECT_FALSE(ParseTargetList("127.0.0.1,", list));
    EXPECT_FALSE(ParseTargetList("127.0.0.1,010.0.0.1", list)); // each item by the one address rule
    EXPECT_EQ(list.size(), 2u);                                 // unchanged after a failure
}

TEST(RouterOverrides, DefaultsAreTheLan)
{
    RouterOverrides o;
    ASSERT_EQ(o.targets.size(), 2u);
    EXPECT_EQ(FormatIpv4(o.targets[0]), "192.168.1.255");
    EXPECT_EQ(FormatIpv4(o.targets[1]), "255.255.255.255");
    EXPECT_EQ(o.routerPort, 1280);
    EXPECT_EQ(o.telnetPort, 23);
}

// The line about rows already at their image's version: every row, some rows, none. A row
// without an image (not found, or damaged) takes no part.
TEST(UpgradeHistory, UpToDateSummaryNamesWhatAnUpgradeWouldWriteAgain)
{
    kivtest::TestComponentTable images;
    ASSERT_TRUE(images.Load({COMPONENT_BOOT, COMPONENT_FIRMWARE}));
    ComponentEntry* table = images.Get();
    for (int i = 0; i < COMPONENT_COUNT; ++i)
        table[i].m_TypeName = "T" + std::to_string(i);
    auto rows = [](bool boot, bool firmware) {
        std::vector<CheckRow> list(3);
        list[0] = {COMPONENT_BOOT, boot, true, "", ""};
        list[1] = {COMPONENT_APP, false, false, "", "damaged"};
        list[2] = {COMPONENT_FIRMWARE, firmware, true, "", ""};
        return list;
    };
    EXPECT_EQ(CVersionCheck::UpToDateSummary(rows(true, true), table),
              "The router already has every image's version; an upgrade would write them again.");
    EXPECT_EQ(CVersionCheck::UpToDateSummary(rows(false, true), table),
              "Already at their image's version: T7; an upgrade would write them again too.");
    EXPECT_EQ(CVersionCheck::UpToDateSummary(rows(false, false), table), "");
}

} // namespace
