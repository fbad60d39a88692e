#include "tests/support/CliFixture.h"
#include "tests/support/Files.h"
#include "tests/support/LogText.h"
#include "tests/support/LoginManagerStandIn.h"

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

    // "kivupgrade-cli history" with `extra` arguments, in the fixture's environment.
    CliRun RunHistory(const std::vector<std::string>& extra)
    {
        std::vector<std::string> argv = CliCommand({"history"});
        argv.insert(argv.end(), extra.begin(), extra.end());
        kivtest::Process cli;
        EXPECT_TRUE(cli.Start(argv, CliEnv())) << cli.Error();
        return Finish(cli, std::chrono::seconds(30));
    }

    // The digest of a file by coreutils' sha256sum.
    static std::string Sha256Sum(const std::string& path)
    {
        const kivtest::RunResult run = kivtest::RunProgram({kivtest::FindProgram("sha256sum"), path});
        return run.out.substr(0, 64);
    }
};

// A whole upgrade, then a second check. The run holds the login manager's lock (a stand-in
// on a private bus) from before its first write to after its last, shows the versions the
// wireless module reads back, leaves one line in the history; the second check marks what
// is up to date.
TEST_F(CliUpgrade, FamilyAFullUpgradeThenTheNewVersionsAreRead)
{
    // The stand-in keeps the simulator's transcript as it is when the lock is taken and let go.
    kivtest::LoginManagerStandIn login([this] { return Transcript(); });
    ASSERT_TRUE(login.Start(m_Dir.Path()));
    m_ExtraEnv["DBUS_SYSTEM_BUS_ADDRESS"] = login.Address();
    ASSERT_TRUE(StartSim({"--family", "A"}));
    CliRun run = RunCli("upgrade", Samples("a"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.json["upgradeRan"], true);
    for (const char* type : {"BOOT", "APP", "Customization", "Firmware", "Dashboard"})
        EXPECT_TRUE(Succeeded(run, type)) << type << ": " << run.Cell(type, "status");

    ASSERT_TRUE(login.WaitReleased(1, std::chrono::seconds(10)));
    const std::vector<kivtest::LoginManagerStandIn::Lock> locks = login.Locks();
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0].arguments,
              (std::vector<std::string>{"shutdown:sleep:idle", "kivupgrade", "Writing router firmware", "block"}));
    for (const char* write : {"\"event\":\"RUT begin\"", "\"event\":\"NVRAM erased\"", "FWT"})
        EXPECT_EQ(kivtest::CountOf(locks[0].atTaken, write), 0) << write << " before the lock";
    EXPECT_NE(locks[0].atReleased.find("\"event\":\"force-load released\""), std::string::npos);
    const std::string afterRelease = Transcript().substr(locks[0].atReleased.size());
    EXPECT_EQ(kivtest::CountOf(afterRelease, "\"dir\":\"in\""), 0) << afterRelease;
    EXPECT_EQ(kivtest::CountLogMessages(Log(), "Shutdown, sleep and idle are held off until the upgrade has ended"), 1);
    // Read back after the module's restart: the wireless rows show what it reports now;
    // the router rows keep what the check read.
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.13.02.00");
    EXPECT_EQ(run.Cell("Dashboard", "currentVersion"), "16.200.11.01.00");
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.5.0");

    std::string log = Log();
    EXPECT_NE(log.find("02-4B-49-56-00-01\r\n"), std::string::npos);
    EXPECT_NE(log.find("Erasing the NVRAM of the router module"), std::string::npos);
    EXPECT_NE(log.find("Leave Forcing Download Mode ..."), std::string::npos);
    EXPECT_NE(log.find(SEPARATOR), std::string::npos);
    std::string transcript = Transcript();
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"RUT begin\""), 3);
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"NVRAM erased\""), 1);

    // One history line: what each component had, got, and which image (by its digest).
    CliRun history = RunHistory({"--json"});
    ASSERT_EQ(history.exitCode, 0) << history.err;
    ASSERT_EQ(history.json.size(), 1u) << history.out;
    const nlohmann::json& entry = history.json[0];
    EXPECT_EQ(entry["result"], "success");
    EXPECT_EQ(entry["router"], nlohmann::json({{"ip", "127.0.0.1"}, {"mac", "02-4B-49-56-00-01"}}));
    ASSERT_EQ(entry["components"].size(), 5u);
    const nlohmann::json& boot = entry["components"][0];
    EXPECT_EQ(boot["type"], "BOOT of router module");
    EXPECT_EQ(boot["oldVersion"], "1.0.5.0");
    EXPECT_EQ(boot["imageVersion"], "1.0.6.2");
    EXPECT_TRUE(boot["newVersion"].is_null()) << "not read back, not claimed";
    EXPECT_EQ(boot["image"], Samples("a") + "/boot.bin");
    EXPECT_EQ(boot["sha256"], Sha256Sum(Samples("a") + "/boot.bin"));
    EXPECT_EQ(boot["result"], "written");
    EXPECT_EQ(entry["components"][3]["newVersion"], "11.608.13.02.00");
    history = RunHistory({});
    EXPECT_NE(history.out.find("router 127.0.0.1 (MAC 02-4B-49-56-00-01)  success"), std::string::npos);
    EXPECT_NE(history.out.find("Firmware of wireless module: 11.608.10.01.00 -> 11.608.13.02.00, written, reads back "
                               "11.608.13.02.00"),
              std::string::npos)
        << history.out;

    run = RunCli("check", Samples("a"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.6.2");
    EXPECT_EQ(run.Cell("APP", "currentVersion"), "2.1.7.1");
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.13.02.00");
    EXPECT_EQ(run.Cell("Dashboard", "currentVersion"), "16.200.11.01.00");
    // Customization shows the application's version, which is not its image's.
    for (const char* type : {"BOOT", "APP", "Firmware", "Dashboard"}) {
        EXPECT_EQ((*run.Row(type))["upToDate"], true) << type;
        EXPECT_EQ(run.Cell(type, "status"), "Up to date") << type;
    }
    EXPECT_EQ((*run.Row("Customization"))["upToDate"], false);
    EXPECT_EQ(run.json["upToDate"],
              "Already at their image's version: BOOT of router module, APP of router module, "
              "Firmware of wireless module, Dashboard of wireless module; an upgrade would "
              "write them again too.");
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
    // The warning and the reason say that the erase failed, after the three router images.
    const std::string said =
        "Erasing the NVRAM of the router module failed: the router did not confirm the erase. "
        "Written before it: BOOT of router module, APP of router module, "
        "Customization of router module.";
    EXPECT_NE(run.err.find("Warning: " + said), std::string::npos) << run.err;
    EXPECT_EQ(run.json["reason"], "The upgrade failed: " + said);
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

// Only BOOT: no NVRAM erase. Neither a missing login manager (the test's bus does not
// exist) nor a history that cannot be written (its directory is a file) stops the run: each
// is said once, and the image is written. The table's summary says BOOT is now up to date.
TEST_F(CliUpgrade, OnlyBootNeedsNoNvramErase)
{
    namespace fs = std::filesystem;
    fs::create_directories(m_Dir / "boot");
    fs::copy_file(Samples("a") + "/boot.bin", m_Dir / "boot/boot.bin");
    ASSERT_TRUE(kivtest::WriteFile(m_Dir / "not-a-directory", "x"));
    m_ExtraEnv["XDG_STATE_HOME"] = m_Dir / "not-a-directory";
    ASSERT_TRUE(StartSim({}));
    CliRun run = RunCli("upgrade", m_Dir / "boot");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Succeeded(run, "BOOT"));
    EXPECT_EQ(run.Cell("APP", "status"), "Not found");
    std::string transcript = Transcript();
    EXPECT_EQ(transcript.find("erase-nvram"), std::string::npos);
    EXPECT_EQ(transcript.find("leave-force-load"), std::string::npos);

    int noLoginManager = 0;
    for (const std::string& line : kivtest::LogMessages(Log()))
        noLoginManager +=
            line.rfind("Shutdown and sleep are not held off during the upgrade: no login manager answered (", 0) == 0;
    EXPECT_EQ(noLoginManager, 1) << Log();
    ASSERT_EQ(run.json["warnings"].size(), 1u) << run.out;
    EXPECT_EQ(run.json["warnings"][0].get<std::string>().rfind("The upgrade history cannot be written: ", 0), 0u);

    kivtest::Process table;
    ASSERT_TRUE(table.Start(CliArgs("check", m_Dir / "boot", false), CliEnv()));
    const CliRun text = Finish(table, std::chrono::seconds(120));
    EXPECT_NE(text.out.find("\nThe router already has every image's version; an upgrade would write them again.\n"
                            "Result: success\n"),
              std::string::npos)
        << text.out;
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
