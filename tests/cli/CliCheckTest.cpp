#include "tests/support/CliFixture.h"
#include "tests/support/Files.h"

using kivtest::CliFixture;
using kivtest::CliRun;

namespace {

constexpr uint32_t BLUE = 0xFF0000;
constexpr uint32_t RED = 0x0000FF;

class CliCheck : public CliFixture {};

TEST_F(CliCheck, FamilyAReadsEveryVersionAndAcceptsSameMajorMinor)
{
    ASSERT_TRUE(StartSim({"--family", "A", "--boot-version", "1.0.5.0", "--app-version", "2.1.5.0"}));
    CliRun run = RunCli("check", Samples("a"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.json["rows"].size(), 5u);
    const char* types[] = {"BOOT of router module", "APP of router module", "Customization of router module",
                           "Firmware of wireless module", "Dashboard of wireless module"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(run.json["rows"][i]["type"], types[i]);
        EXPECT_EQ(run.json["rows"][i]["status"], "Waiting for the upgrade");
        EXPECT_EQ(run.json["rows"][i]["colour"], BLUE);
    }
    // 2.1.5.0 on the router against 2.1.7.1 in the image: accepted. The newest valid line
    // of the reply is taken, not the echo or the prompt.
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.5.0");
    EXPECT_EQ(run.Cell("APP", "currentVersion"), "2.1.5.0");
    EXPECT_EQ(run.Cell("APP", "upgradeVersion"), "2.1.7.1");
    EXPECT_EQ(run.Cell("Customization", "currentVersion"), "2.1.5.0"); // copy of APP
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.10.01.00");
    EXPECT_EQ(run.Cell("Dashboard", "currentVersion"), "16.200.10.01.00");
    EXPECT_EQ(run.json["router"]["ip"], "127.0.0.1");
    EXPECT_EQ(run.json["upgradeRan"], false);
    EXPECT_NE(run.err.find("Download log: " + (m_Dir / "KivUpgradeLog.txt")), std::string::npos);

    std::string transcript = Transcript();
    EXPECT_EQ(kivtest::CountOf(transcript, "\"name\":\"discovery\""), 2); // request and reply
    EXPECT_NE(transcript.find("nvram get cfe_version"), std::string::npos);
    EXPECT_NE(transcript.find("nvram get app_version"), std::string::npos);
    EXPECT_EQ(transcript.find("diag display version"), std::string::npos);
}

TEST_F(CliCheck, MajorChangeIsAMismatchAndBlocksTheUpgrade)
{
    ASSERT_TRUE(StartSim({"--family", "A", "--app-version", "3.0.0.0"}));
    CliRun run = RunCli("upgrade", Samples("a"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.Cell("APP", "status"), "Version does not match");
    EXPECT_EQ((*run.Row("APP"))["colour"], RED);
    EXPECT_EQ(run.Cell("Customization", "status"), "Version does not match");
    EXPECT_EQ(run.Cell("BOOT", "status"), "Waiting for the upgrade");
    EXPECT_EQ(run.json["checkPassed"], false);
    EXPECT_EQ(run.json["upgradeRan"], false);
    EXPECT_NE(run.json["reason"].get<std::string>().find("APP of router module"), std::string::npos);
    EXPECT_EQ(Transcript().find("RUT begin"), std::string::npos); // nothing was sent
}

TEST_F(CliCheck, DashboardIsAlwaysUpgradedAndForceLoadIsReported)
{
    ASSERT_TRUE(StartSim({"--dashboard-version", "99.1.0.0", "--force-load"}));
    CliRun run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "Can't read in force-load mode");
    EXPECT_EQ(run.Cell("Dashboard", "currentVersion"), "Can't read in force-load mode");
    EXPECT_EQ(run.Cell("Dashboard", "status"), "Waiting for the upgrade");
    StopSim();

    ASSERT_TRUE(StartSim({"--dashboard-version", "99.1.0.0"}));
    run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.Cell("Dashboard", "currentVersion"), "99.1.0.0");
    EXPECT_EQ(run.Cell("Dashboard", "status"), "Waiting for the upgrade");
}

TEST_F(CliCheck, SkippedDiscoveryRepliesAndSilentTelnetFallBackToTheDiscoveryText)
{
    ASSERT_TRUE(StartSim({"--fault", "discovery-zero-mac", "--fault", "discovery-other-type", "--fault",
                          "telnet-silent", "--discovery-text", "1.0.9.9"}));
    CliRun run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.json["router"]["mac"], "02-4B-49-56-00-01");
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.9.9");
    EXPECT_EQ(run.Cell("BOOT", "status"), "Waiting for the upgrade"); // 1.0 against 1.0.6.2
    EXPECT_EQ(run.Cell("APP", "currentVersion"), "1.0.9.9");
    EXPECT_EQ(run.Cell("APP", "status"), "Version does not match"); // 1.0 against 2.1.7.1
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(Log().find("Telnet的登录提示中没有':'"), std::string::npos);
}

TEST_F(CliCheck, DiscoveryTextWithTwoDotsIsDropped)
{
    ASSERT_TRUE(StartSim({"--fault", "telnet-refused", "--discovery-text", "1.2.3"}));
    CliRun run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.exitCode, 0) << run.err; // versions not read never refuse the upgrade
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "");
    EXPECT_EQ(run.Cell("APP", "currentVersion"), "");
    EXPECT_NE(Log().find("创建TCP连接失败"), std::string::npos);
    StopSim();

    ASSERT_TRUE(StartSim({"--fault", "telnet-refused", "--discovery-text", "1.2.3.4"}));
    run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.2.3.4");
    EXPECT_EQ(run.Cell("BOOT", "status"), "Version does not match"); // 1.2 against 1.0
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(CliCheck, FamilyBReadsOneVersionForFourRows)
{
    ASSERT_TRUE(StartSim({"--family", "B", "--app-version", "3.2.1.0"}));
    // The router is found through the environment overrides this time, not the flags.
    CliRun run = RunArgv({kivtest::BuildProgram(kivtest::CLI_PROGRAM), "check", "--images", Samples("b"), "--json"},
                         {{"KIV_DISCOVERY_TARGETS", "127.0.0.2,127.0.0.1"},
                          {"KIV_ROUTER_PORT", m_strRouterPort},
                          {"KIV_TELNET_PORT", m_strTelnetPort}},
                         std::chrono::seconds(120));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.json["rows"].size(), 6u);
    const char* types[] = {"Common Html Resource", "Special Html Code", "APP of router module",
                           "Configuration File",   "Firmware",          "Dashboard"};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(run.json["rows"][i]["type"].get<std::string>().rfind(types[i], 0), 0u) << i;
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(run.json["rows"][i]["currentVersion"], "3.2.1.0");
    std::string transcript = Transcript();
    EXPECT_NE(transcript.find("diag display version"), std::string::npos);
    EXPECT_EQ(transcript.find("nvram get"), std::string::npos);
}

TEST_F(CliCheck, BothFamiliesPresentFamilyBIsIgnoredAndNeverSent)
{
    namespace fs = std::filesystem;
    std::string both = m_Dir / "both";
    fs::create_directories(both);
    for (const auto& entry : fs::directory_iterator(Samples("a")))
        fs::copy_file(entry.path(), both + "/a_" + entry.path().filename().string());
    for (const char* name : {"common_html.bin", "special_html.bin", "app.bin", "config.bin"})
        fs::copy_file(Samples("b") + "/" + name, both + "/b_" + name);

    ASSERT_TRUE(StartSim({"--family", "A"}));
    CliRun run = RunCli("upgrade", both);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.json["rows"].size(), 5u);
    EXPECT_EQ(run.Cell("BOOT", "status").rfind("Download successfully (", 0), 0u);
    EXPECT_EQ(run.Cell("Firmware", "status").rfind("Download successfully (", 0), 0u);
    EXPECT_EQ(run.Cell("Dashboard", "status").rfind("Download successfully (", 0), 0u);
    std::string transcript = Transcript();
    EXPECT_EQ(transcript.find("diag display version"), std::string::npos);
    EXPECT_EQ(kivtest::CountOf(transcript, "\"event\":\"RUT begin\""), 3); // BOOT, APP, Customization only
}

TEST_F(CliCheck, NoRouterAndUsageErrors)
{
    m_strRouterPort = std::to_string(m_NoService.Port()); // no router: nothing answers there
    m_strTelnetPort = m_strRouterPort;
    CliRun run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.json["rows"].empty());
    EXPECT_EQ(run.json["warnings"], nlohmann::json::array({"No router is detected"}));
    EXPECT_NE(run.err.find("Warning: No router is detected"), std::string::npos);
    EXPECT_NE(Log().find("没有检测到路由器"), std::string::npos);

    for (std::vector<std::string> bad : {std::vector<std::string>{"frobnicate"},
                                         {"check", "--router-port", "0"},
                                         {"check", "--target", "1.2.3"},
                                         {"check", "--images", m_Dir / "missing"},
                                         {}}) {
        bad.insert(bad.begin(), kivtest::BuildProgram(kivtest::CLI_PROGRAM));
        kivtest::Process cli;
        ASSERT_TRUE(cli.Start(bad, CliEnv()));
        EXPECT_EQ(cli.Wait(std::chrono::seconds(30)), 2) << bad.back();
    }
    kivtest::Process version;
    ASSERT_TRUE(version.Start({kivtest::BuildProgram(kivtest::CLI_PROGRAM), "--version"}, CliEnv()));
    EXPECT_EQ(version.Wait(std::chrono::seconds(30)), 0);
    EXPECT_NE(version.Out().find("kivupgrade-cli "), std::string::npos);
}

} // namespace
