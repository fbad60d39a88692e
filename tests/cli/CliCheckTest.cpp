#include <thread>

#include "tests/support/CliFixture.h"
#include "tests/support/Files.h"
#include "tests/support/HdlcBytes.h"
#include "tests/support/UdpPeer.h"
#include "tests/support/Wait.h"
#include "wire/UdpRecord.h"

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
    EXPECT_NE(run.err.find("Download log: " + CliPath(m_Dir / "KivUpgradeLog.txt")), std::string::npos) << run.err;

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
    // ... but the rows say so, and why.
    for (const char* type : {"BOOT", "APP", "Customization"}) {
        EXPECT_EQ((*run.Row(type))["versionRead"], false) << type;
        EXPECT_EQ(run.Cell(type, "status"), "Version not read: the router's Telnet could not be reached") << type;
    }
    EXPECT_EQ((*run.Row("Firmware"))["versionRead"], true);
    StopSim();

    ASSERT_TRUE(StartSim({"--fault", "telnet-refused", "--discovery-text", "1.2.3.4"}));
    run = RunCli("check", Samples("a"));
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.2.3.4");
    EXPECT_EQ(run.Cell("BOOT", "status"), "Version does not match"); // 1.2 against 1.0
    EXPECT_EQ(run.exitCode, 1);
}

// A version the wireless module does not give is said in its row, with the reason, and in
// the JSON; the check still passes (an unread version never refuses the upgrade, which may
// be how a module in a bad state is recovered), and an upgrade warns before it writes.
TEST_F(CliCheck, VersionsNotReadAreSaidWithTheirReason)
{
    const struct {
        std::vector<std::string> sim;
        const char* why;
    } CASES[] = {
        {{"--fault", "no-handshake"}, "the wireless module did not answer the hand-shake"},
        {{"--fault", "no-answer=board-version,dashboard-version"},
         "the wireless module did not answer the version query"},
    };
    for (const auto& c : CASES) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(StartSim(c.sim));
        CliRun run = RunCli("check", Samples("a"));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        for (const char* type : {"Firmware", "Dashboard"}) {
            EXPECT_EQ((*run.Row(type))["versionRead"], false) << type;
            EXPECT_EQ(run.Cell(type, "versionProblem"), c.why) << type;
            EXPECT_EQ(run.Cell(type, "status"), std::string("Version not read: ") + c.why) << type;
        }
        EXPECT_EQ((*run.Row("BOOT"))["versionRead"], true);
        ASSERT_EQ(run.json["versionWarnings"].size(), 2u);
        EXPECT_EQ(run.json["versionWarnings"][0], std::string("The current version of the Firmware of wireless "
                                                              "module could not be read (") +
                                                      c.why + "); its image will be written without a version check.");
        StopSim();
    }
    // Telnet silent: the router's versions are not read, and the upgrade says so first.
    ASSERT_TRUE(StartSim({"--fault", "telnet-silent", "--discovery-text", "none"}));
    CliRun run = RunCli("upgrade", Samples("a"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string warning =
        "Warning: The current version of the BOOT of router module could not be read (the "
        "router's Telnet login prompt had no ':'); its image will be written without a "
        "version check.";
    const size_t warned = run.err.find(warning);
    EXPECT_NE(warned, std::string::npos) << run.err;
    EXPECT_LT(warned, run.err.find("Upgrading...")) << run.err;
}

TEST_F(CliCheck, FamilyBReadsOneVersionForFourRows)
{
    ASSERT_TRUE(StartSim({"--family", "B", "--app-version", "3.2.1.0"}));
    // The router is found through the environment overrides this time, not the flags.
    CliRun run = RunArgv(CliCommand({"check", "--images", Samples("b"), "--json"}),
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

// A router (or a firewall before it) that drops every connection request to its Telnet
// and TCP router ports: the Telnet connection is waited for only as long as that step's
// own time-out, and Ctrl+C ends the wait for the router port's connection at once. At
// scale 1 both waits are long enough to see; the system's own would be minutes.
TEST_F(CliCheck, ConnectionsThatNeverCompleteEndAtTheirTimeOutOrAtCtrlC)
{
    ASSERT_TRUE(StartSim({"--fault", "telnet-no-connect", "--fault", "router-no-connect"}));
    kivtest::Process cli;
    kivtest::Process::Env env = CliEnv();
    env["KIV_TIME_SCALE"] = "1";
    ASSERT_TRUE(cli.Start(CliArgs("check", Samples("a")), env));
    // The Telnet connection gives up after its 1 s, right before the router port is tried.
    // (The log is read as it may not exist yet: Log() would call that a failure.)
    EXPECT_TRUE(kivtest::WaitFor(
        [this] { return kivtest::ReadFile(m_Dir / "KivUpgradeLog.txt").find("创建TCP连接失败") != std::string::npos; },
        20000, 10));
    const auto interrupted = std::chrono::steady_clock::now();
    cli.Signal(SIGINT);
    CliRun run = Finish(cli, std::chrono::seconds(60));
    const auto took = std::chrono::steady_clock::now() - interrupted;
    EXPECT_LT(took, std::chrono::milliseconds(2000)) << "the router port's 3 s connection wait was not cut short";
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.json["interrupted"], true);
    EXPECT_EQ(run.err.find("Creating the TCP connection failed"), std::string::npos); // a stop is no failure to say
}

// Two devices answer one discovery (127.0.0.255 is a loopback address like any other; the
// tool sends to it as to a broadcast address and takes replies from anyone): the check
// takes neither, names both and says how to choose one.
TEST_F(CliCheck, TwoRoutersAnsweringTheDiscoveryFailTheCheckNamingBoth)
{
    kivtest::UdpPeer broadcast(255);
    kivtest::UdpPeer first(3);
    kivtest::UdpPeer second(4);
    std::thread routers([&] {
        std::string request;
        Ipv4Endpoint from;
        if (!broadcast.Receive(request, from))
            return;
        for (kivtest::UdpPeer* router : {&first, &second}) {
            const uint8_t ip[4] = {127, 0, 0, uint8_t(router == &first ? 3 : 4)};
            const uint8_t mac[6] = {0x02, 0x4B, 0x49, 0x56, 0x00, ip[3]};
            UdpRecord reply;
            reply.SetType(UDP_DISCOVERY);
            reply.SetIp(ip);
            reply.SetMac(mac);
            const kivtest::Bytes frame = kivtest::Frame(kivtest::Bytes(reply.Data(), reply.Data() + 32), 1);
            router->SendTo(from, std::string(frame.begin(), frame.end()));
        }
    });
    kivtest::Process cli;
    ASSERT_TRUE(cli.Start(CliCommand({"check", "--target", "127.0.0.255", "--router-port",
                                      std::to_string(broadcast.Port()), "--images", Samples("a"), "--json"}),
                          CliEnv()));
    CliRun run = Finish(cli, std::chrono::seconds(120));
    routers.join();
    EXPECT_EQ(run.exitCode, 1);
    const std::string text =
        "More than one router answered: 127.0.0.3 (MAC 02-4B-49-56-00-03) and 127.0.0.4 (MAC "
        "02-4B-49-56-00-04). Choose the one to check and upgrade by its address: --target "
        "ADDRESS for kivupgrade-cli, or KIV_DISCOVERY_TARGETS=ADDRESS in the environment of the "
        "window.";
    EXPECT_EQ(run.json["warnings"], nlohmann::json::array({text})) << run.err;
    EXPECT_TRUE(run.json["router"].is_null()) << run.out; // neither was taken
    EXPECT_NE(Log().find(text), std::string::npos);
    EXPECT_TRUE(run.json["rows"].empty());
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
        bad = CliCommand(bad);
        kivtest::Process cli;
        ASSERT_TRUE(cli.Start(bad, CliEnv()));
        EXPECT_EQ(cli.Wait(std::chrono::seconds(30)), 2) << bad.back();
    }
    kivtest::Process version;
    ASSERT_TRUE(version.Start(CliCommand({"--version"}), CliEnv()));
    EXPECT_EQ(version.Wait(std::chrono::seconds(30)), 0);
    EXPECT_NE(version.Out().find("kivupgrade-cli "), std::string::npos);
}

} // namespace
