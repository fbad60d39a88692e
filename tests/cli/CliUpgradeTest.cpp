#include "tests/support/CliFixture.h"
#include "tests/support/Files.h"

using kivtest::CliFixture;
using kivtest::CliRun;

namespace {

constexpr uint32_t BLUE = 0xFF0000;
constexpr uint32_t RED = 0x0000FF;
const std::string SEPARATOR(50, '+');

class CliUpgrade : public CliFixture {
protected:
    static bool Succeeded(const CliRun& run, const std::string& type)
    {
        const nlohmann::json* row = run.Row(type);
        return row && (*row)["status"].get<std::string>().rfind("Download successfully (", 0) == 0 &&
               (*row)["percent"] == "100%" && (*row)["colour"] == BLUE;
    }
};

TEST_F(CliUpgrade, FamilyAFullUpgradeThenTheNewVersionsAreRead)
{
    ASSERT_TRUE(StartSim({"--family", "A"}));
    CliRun run = RunCli("upgrade", Samples("a"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.json["upgradeRan"], true);
    for (const char* type : {"BOOT", "APP", "Customization", "Firmware", "Dashboard"})
        EXPECT_TRUE(Succeeded(run, type)) << type << ": " << run.Cell(type, "status");

    std::string log = Log();
    EXPECT_NE(log.find("02-4B-49-56-00-01\r\n"), std::string::npos);
    EXPECT_NE(log.find("Erasing the NVRAM of the router module"), std::string::npos);
    EXPECT_NE(log.find("Leave Forcing Download Mode ..."), std::string::npos);
    EXPECT_NE(log.find(SEPARATOR), std::string::npos);
    std::string transcript = Transcript();
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"RUT begin\""), 3);
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"NVRAM erased\""), 1);

    run = RunCli("check", Samples("a"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.6.2");
    EXPECT_EQ(run.Cell("APP", "currentVersion"), "2.1.7.1");
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.13.02.00");
    EXPECT_EQ(run.Cell("Dashboard", "currentVersion"), "16.200.11.01.00");
}

TEST_F(CliUpgrade, FamilyBFullUpgrade)
{
    ASSERT_TRUE(StartSim({"--family", "B"}));
    CliRun run = RunCli("upgrade", Samples("b"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.json["rows"].size(), 6u);
    for (const auto& row : run.json["rows"])
        EXPECT_EQ(row["status"].get<std::string>().rfind("Download successfully (", 0), 0u) << row.dump();
    EXPECT_EQ(kivtest::CountOf(Transcript(), "\"event\":\"RUT begin\""), 4);
}

TEST_F(CliUpgrade, FailedRouterResultStopsTheRunAndShowsInItsRow)
{
    ASSERT_TRUE(StartSim({"--fault", "result-value=3"}));
    CliRun run = RunCli("upgrade", Samples("a"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.Cell("BOOT", "status").rfind("Upgrading result of the router module is fail (", 0), 0u)
        << run.Cell("BOOT", "status");
    EXPECT_EQ((*run.Row("BOOT"))["colour"], RED);
    EXPECT_EQ(run.Cell("APP", "status"), "Waiting for the upgrade");
    EXPECT_EQ(run.Cell("Firmware", "status"), "Waiting for the upgrade");
    EXPECT_EQ(run.json["upgradeFailed"], true);
    std::string log = Log();
    EXPECT_NE(log.find("Leave Forcing Download Mode ..."), std::string::npos); // a wireless image was selected
    EXPECT_NE(log.find(SEPARATOR), std::string::npos);
    EXPECT_EQ(Transcript().find("\"event\":\"NVRAM erased\""), std::string::npos);
}

TEST_F(CliUpgrade, RunEndingBeforeAnyRowChangedStillSaysWhy)
{
    ASSERT_TRUE(StartSim({"--fault", "no-erase-echo"}));
    CliRun run = RunCli("upgrade", Samples("a"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Succeeded(run, "BOOT"));
    EXPECT_EQ(run.Cell("Firmware", "status"), "Waiting for the upgrade"); // never attempted
    EXPECT_EQ(run.json["upgradeFailed"], true);
    EXPECT_EQ(run.json["upgradeResult"], "Erasing the NVRAM of the router module");
    EXPECT_NE(run.err.find("Warning: Erasing the NVRAM of the router module"), std::string::npos);
    EXPECT_EQ(kivtest::CountOf(Transcript(), "\"name\":\"erase-nvram\""), 3); // three tries, no echo
}

TEST_F(CliUpgrade, WirelessFailureShowsInTheFirmwareRow)
{
    ASSERT_TRUE(StartSim({"--fault", "unlock-refused=1000"}));
    CliRun run = RunCli("upgrade", Samples("a"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Succeeded(run, "Customization"));
    EXPECT_EQ(run.Cell("Firmware", "status").rfind("Unlocking the wireless module failed (", 0), 0u)
        << run.Cell("Firmware", "status");
    EXPECT_EQ(run.Cell("Dashboard", "status"), "Waiting for the upgrade");
    EXPECT_NE(Log().find("Leave Forcing Download Mode ..."), std::string::npos);
}

TEST_F(CliUpgrade, OnlyBootNeedsNoNvramErase)
{
    namespace fs = std::filesystem;
    fs::create_directories(m_Dir / "boot");
    fs::copy_file(Samples("a") + "/boot.bin", m_Dir / "boot/boot.bin");
    ASSERT_TRUE(StartSim({}));
    CliRun run = RunCli("upgrade", m_Dir / "boot");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Succeeded(run, "BOOT"));
    EXPECT_EQ(run.Cell("APP", "status"), "Not found");
    std::string transcript = Transcript();
    EXPECT_EQ(transcript.find("erase-nvram"), std::string::npos);
    EXPECT_EQ(transcript.find("leave-force-load"), std::string::npos);
}

// Two copies started at once against one router: one upgrades, the other stops before it
// sends anything, and no image is written twice.
TEST_F(CliUpgrade, TwoCopiesAtOnceWriteNothingTwice)
{
    ASSERT_TRUE(StartSim({}));
    kivtest::Process first;
    kivtest::Process second;
    ASSERT_TRUE(first.Start(CliArgs("upgrade", Samples("a")), CliEnv()));
    ASSERT_TRUE(second.Start(CliArgs("upgrade", Samples("a")), CliEnv()));
    const CliRun runs[] = {Finish(first, std::chrono::seconds(300)), Finish(second, std::chrono::seconds(300))};
    const bool firstWon = runs[0].exitCode == 0;
    const CliRun& winner = runs[firstWon ? 0 : 1];
    const CliRun& refused = runs[firstWon ? 1 : 0];
    EXPECT_EQ(winner.exitCode, 0) << winner.err;
    EXPECT_TRUE(Succeeded(winner, "Dashboard")) << winner.out;
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_NE(refused.err.find("another check or upgrade of this user is running"), std::string::npos) << refused.err;
    const std::string transcript = Transcript();
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"RUT begin\""), 3);
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"NVRAM erased\""), 1);
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"image complete\""), 2); // firmware, dashboard
    EXPECT_EQ(kivtest::CountOf(transcript, "\"name\":\"discovery\""), 2);       // one request, one reply
}

TEST_F(CliUpgrade, CtrlCStopsACheck)
{
    ASSERT_TRUE(StartSim({"--fault", "no-discovery"}));
    kivtest::Process cli;
    ASSERT_TRUE(cli.Start(CliArgs("upgrade", Samples("a")), CliEnv()));
    ASSERT_TRUE(
        cli.ReadUntil([](const std::string&,
                         const std::string& err) { return err.find("Checking the router...") != std::string::npos; },
                      std::chrono::seconds(60)));
    cli.Signal(SIGINT);
    CliRun run = Finish(cli, std::chrono::seconds(120));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.json["interrupted"], true);
    EXPECT_EQ(run.json["upgradeRan"], false);
    EXPECT_NE(run.err.find("Download log: "), std::string::npos);
}

} // namespace
