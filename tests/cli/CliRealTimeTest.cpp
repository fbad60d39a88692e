// One full family A upgrade with every pause and time-out at its real length (scale 1).

#include "tests/support/CliFixture.h"

namespace {

class CliRealTime : public kivtest::CliFixture {};

TEST_F(CliRealTime, FamilyAFullUpgradeAtScaleOne)
{
    ASSERT_TRUE(StartSim({"--family", "A"}, "1"));
    auto start = std::chrono::steady_clock::now();
    kivtest::CliRun run = RunCli("upgrade", Samples("a"), {"--time-scale", "1"}, std::chrono::seconds(500));
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const auto& row : run.json["rows"])
        EXPECT_EQ(row["status"].get<std::string>().rfind("Download successfully (", 0), 0u) << row.dump();
    // The Telnet waits alone take 2.5 s, the router images at least 1 s of pause each.
    EXPECT_GE(seconds.count(), 5);
    RecordProperty("seconds", static_cast<int>(seconds.count()));
    EXPECT_NE(Log().find(std::string(50, '+')), std::string::npos);
}

} // namespace
