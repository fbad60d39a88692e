// The command line on LANs of its own, made of network namespaces (named after the test's
// pid; nothing leaves them):
// - a "pc" and a "router" joined by a veth pair (192.168.1.100/24 and 192.168.1.1/24): with
//   no overrides at all the command line finds the simulator (192.168.1.1, ports 23 and
//   1280) through the default 192.168.1.255 broadcast;
// - a "pc" with two interfaces on one subnet (below): only --interface finds the router.
// A router there is not on loopback: a time-scaled run needs an explicit allowance.

#include <unistd.h>

#include <memory>

#include "tests/support/CliFixture.h"
#include "tests/support/Strict.h"
#include "tests/support/TestLan.h"

namespace {

using kivtest::TestLan;

// The simulator as the router of a LAN: 192.168.1.1, its own ports 23 and 1280, at `scale`,
// inside the namespace "rt".
kivtest::SimOptions RouterOptions(const TestLan& lan, double scale, const std::string& transcript)
{
    kivtest::SimOptions options;
    options.prefix = lan.In("rt", {});
    options.address = "192.168.1.1";
    options.routerPort = "1280";
    options.telnetPort = "23";
    options.timeScale = scale;
    options.transcript = transcript;
    options.env = {{"KIV_TIME_SCALE", ""}};
    return options;
}

class CliNetns : public kivtest::CliFixture {
protected:
    // A "pc" and a "router" joined by a veth pair; false with `why` when it cannot be made.
    static bool MakePcAndRouter(TestLan& lan, std::string& why)
    {
        const std::string vp = "kvp" + std::to_string(getpid());
        const std::string vr = "kvr" + std::to_string(getpid());
        return lan.Make(
            {
                {"link", "add", vp, "type", "veth", "peer", "name", vr},
                {"link", "set", vp, "netns", lan.Ns("pc")},
                {"link", "set", vr, "netns", lan.Ns("rt")},
                {"-n", lan.Ns("pc"), "addr", "add", "192.168.1.100/24", "broadcast", "192.168.1.255", "dev", vp},
                {"-n", lan.Ns("rt"), "addr", "add", "192.168.1.1/24", "broadcast", "192.168.1.255", "dev", vr},
                {"-n", lan.Ns("pc"), "link", "set", "lo", "up"},
                {"-n", lan.Ns("rt"), "link", "set", "lo", "up"},
                {"-n", lan.Ns("pc"), "link", "set", vp, "up"},
                {"-n", lan.Ns("rt"), "link", "set", vr, "up"},
            },
            why);
    }

    // kivupgrade-cli check in the "pc" namespace with no router overrides, `env` added.
    kivtest::CliRun CheckFromPc(const TestLan& lan, std::vector<std::string> extra, const kivtest::Process::Env& env)
    {
        std::vector<std::string> argv = {kivtest::BuildProgram(kivtest::CLI_PROGRAM), "check", "--images", Samples("a"),
                                         "--json"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return RunArgv(lan.In("pc", argv), env, std::chrono::seconds(120));
    }
};

TEST_F(CliNetns, DefaultBroadcastFindsTheRouterOnItsOwnLan)
{
    TestLan lan({"pc", "rt"});
    std::string why;
    if (!MakePcAndRouter(lan, why))
        KIV_SKIP_OR_FAIL("network namespaces cannot be made here (" + why + ")");

    // The router's own ports and the real time scale, inside the "router" namespace.
    kivtest::SimProcess sim;
    ASSERT_TRUE(sim.Start({}, RouterOptions(lan, 1, m_Dir / "transcript.jsonl")));
    EXPECT_EQ(sim.RouterPort(), 1280);
    EXPECT_EQ(sim.TelnetPort(), 23);

    // No --target, no ports, no time scale: the real defaults.
    kivtest::CliRun run = CheckFromPc(lan, {}, {{"KIV_TIME_SCALE", ""}});
    EXPECT_EQ(sim.Stop(), 0) << sim.Err();

    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_TRUE(run.json.contains("router")) << run.out;
    EXPECT_EQ(run.json["router"]["ip"], "192.168.1.1");
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.5.0");             // read over Telnet on port 23
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.10.01.00"); // DIAG over TCP 1280
    std::string transcript = Transcript();
    EXPECT_NE(transcript.find("\"name\":\"discovery\""), std::string::npos);
}

// A time scale left in the environment is refused toward a router off loopback: the check
// stops right after discovery, before any Telnet or TCP contact. --time-scale or
// KIV_TIME_SCALE_ANY_ROUTER=1 allow it.
TEST_F(CliNetns, TimeScaleTowardARouterOffLoopbackNeedsAnAllowance)
{
    TestLan lan({"pc", "rt"});
    std::string why;
    if (!MakePcAndRouter(lan, why))
        KIV_SKIP_OR_FAIL("network namespaces cannot be made here (" + why + ")");
    const double scale = kivtest::TelnetTimeScale();
    kivtest::SimProcess sim;
    ASSERT_TRUE(sim.Start({}, RouterOptions(lan, scale, m_Dir / "transcript.jsonl")));

    const std::string refusal = "Time scale " + kivtest::ScaleArgument(scale) +
                                " refused: the router at 192.168.1.1 is not on loopback";
    kivtest::CliRun run = CheckFromPc(lan, {}, {{"KIV_TIME_SCALE", Scale()}, {"KIV_TIME_SCALE_ANY_ROUTER", ""}});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.json.value("reason", std::string()).find(refusal), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(refusal), std::string::npos) << run.err;
    EXPECT_NE(Log().find(refusal), std::string::npos) << Log();
    EXPECT_EQ(Transcript().find("\"proto\":\"telnet\""), std::string::npos) << "the router was contacted";

    run = CheckFromPc(lan, {}, {{"KIV_TIME_SCALE", Scale()}, {"KIV_TIME_SCALE_ANY_ROUTER", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.5.0");

    run = CheckFromPc(lan, {"--time-scale", Scale()}, {{"KIV_TIME_SCALE", ""}, {"KIV_TIME_SCALE_ANY_ROUTER", ""}});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.10.01.00");
    EXPECT_EQ(sim.Stop(), 0) << sim.Err();
}

// A PC with two interfaces on one subnet, as a laptop whose Wi-Fi and whose cable to the
// router are both on 192.168.1.0/24: eth0 (192.168.1.50, the default route) leads to a
// namespace that never answers, eth1 (192.168.1.100) to the router's namespace. Nothing
// leaves the three namespaces.
class CliTwoPorts : public kivtest::CliFixture {
protected:
    static void SetUpTestSuite()
    {
        CliFixture::SetUpTestSuite();
        s_pLan = std::make_unique<TestLan>(std::vector<std::string>{"pc", "quiet", "rt"});
        const std::string pc = s_pLan->Ns("pc");
        const std::string pid = std::to_string(getpid());
        const std::string a = "kqa" + pid, b = "kqb" + pid, c = "kra" + pid, d = "krb" + pid;
        s_bLan = s_pLan->Make(
            {
                {"link", "add", a, "type", "veth", "peer", "name", b},
                {"link", "add", c, "type", "veth", "peer", "name", d},
                {"link", "set", a, "netns", pc},
                {"link", "set", b, "netns", s_pLan->Ns("quiet")},
                {"link", "set", c, "netns", pc},
                {"link", "set", d, "netns", s_pLan->Ns("rt")},
                {"-n", pc, "link", "set", a, "name", "eth0"},
                {"-n", pc, "link", "set", c, "name", "eth1"},
                {"-n", pc, "addr", "add", "192.168.1.50/24", "broadcast", "192.168.1.255", "dev", "eth0"},
                {"-n", pc, "addr", "add", "192.168.1.100/24", "broadcast", "192.168.1.255", "dev", "eth1"},
                {"-n", s_pLan->Ns("quiet"), "addr", "add", "192.168.1.2/24", "broadcast", "192.168.1.255", "dev", b},
                {"-n", s_pLan->Ns("rt"), "addr", "add", "192.168.1.1/24", "broadcast", "192.168.1.255", "dev", d},
                // A third port that is down, for the usage error.
                {"-n", pc, "link", "add", "eth2", "type", "veth", "peer", "name", "eth3"},
                {"-n", pc, "addr", "add", "10.9.9.9/24", "dev", "eth2"},
                {"-n", pc, "link", "set", "lo", "up"},
                {"-n", pc, "link", "set", "eth0", "up"},
                {"-n", pc, "link", "set", "eth1", "up"},
                {"-n", s_pLan->Ns("quiet"), "link", "set", b, "up"},
                {"-n", s_pLan->Ns("rt"), "link", "set", d, "up"},
                {"-n", s_pLan->Ns("rt"), "link", "set", "lo", "up"},
                {"-n", pc, "route", "add", "default", "via", "192.168.1.2", "dev", "eth0"},
            },
            s_strWhy);
    }
    static void TearDownTestSuite() { s_pLan.reset(); }

    void SetUp() override
    {
        if (!s_bLan)
            KIV_SKIP_OR_FAIL("network namespaces cannot be made here (" + s_strWhy + ")");
        ASSERT_TRUE(m_Sim.Start({}, RouterOptions(*s_pLan, kivtest::TelnetTimeScale(), m_Dir / "transcript.jsonl")));
    }

    // kivupgrade-cli in the "pc" namespace with the real targets and ports, time-scaled (and
    // allowed to be, toward a router off loopback).
    kivtest::CliRun RunInPc(std::vector<std::string> args)
    {
        args.insert(args.begin(), kivtest::BuildProgram(kivtest::CLI_PROGRAM));
        args.push_back("--json");
        return RunArgv(s_pLan->In("pc", args), {{"KIV_TIME_SCALE_ANY_ROUTER", "1"}});
    }

    static inline std::unique_ptr<TestLan> s_pLan;
    static inline bool s_bLan = false;
    static inline std::string s_strWhy;
};

TEST_F(CliTwoPorts, WithoutAnInterfaceTheRouterIsNotFoundAndTheHintSaysWhy)
{
    kivtest::CliRun run = RunInPc({"discover"});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    const std::string hint = run.json["hint"].dump();
    EXPECT_NE(hint.find("eth0 and eth1 are both on the subnet of 192.168.1.255 (192.168.1.0/24)"), std::string::npos)
        << hint;
    EXPECT_NE(hint.find("--interface eth1"), std::string::npos);
    // Not even by its own address: that too leaves through eth0.
    run = RunInPc({"check", "--target", "192.168.1.1", "--images", Samples("a")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Transcript().find("\"name\":\"discovery\""), std::string::npos);
}

TEST_F(CliTwoPorts, ThroughEth1DiscoverListsTheRouterAndTheUpgradeWorks)
{
    kivtest::CliRun run = RunInPc({"discover", "--interface", "eth1"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_EQ(run.json["routers"].size(), 1u);
    EXPECT_EQ(run.json["routers"][0]["ip"], "192.168.1.1");
    EXPECT_EQ(run.json["routers"][0]["mac"], "02-4B-49-56-00-01");
    EXPECT_EQ(run.json["routers"][0]["interface"], "eth1");
    EXPECT_EQ(run.json["targets"], nlohmann::json::array({"192.168.1.255", "255.255.255.255"}));
    ASSERT_EQ(run.json["interfaces"].size(), 1u);
    EXPECT_EQ(run.json["interfaces"][0]["address"], "192.168.1.100");

    // The default targets (now eth1's broadcast, then 255.255.255.255), then the limited
    // broadcast alone: discovery, control records, Telnet and TCP all through eth1.
    for (const std::vector<std::string>& targets :
         {std::vector<std::string>{}, std::vector<std::string>{"--target", "255.255.255.255"}}) {
        std::vector<std::string> args = {"upgrade", "--interface", "eth1", "--images", Samples("a")};
        args.insert(args.end(), targets.begin(), targets.end());
        run = RunInPc(args);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_EQ(run.json["router"]["ip"], "192.168.1.1");
        EXPECT_EQ(run.Cell("BOOT", "status").rfind("Download successfully", 0), 0u) << run.out;
        EXPECT_EQ(run.Cell("Firmware", "status").rfind("Download successfully", 0), 0u) << run.out;
        EXPECT_NE(run.err.find("Router 192.168.1.1, MAC 02-4B-49-56-00-01"), std::string::npos);
    }
    EXPECT_NE(Log().find("Router found: 192.168.1.1, MAC 02-4B-49-56-00-01, through eth1"), std::string::npos);
}

TEST_F(CliTwoPorts, AnInterfaceThatIsDownIsAUsageError)
{
    kivtest::CliRun run = RunInPc({"check", "--interface", "eth2"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("the network interface eth2 is down"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("eth1 192.168.1.100/24"), std::string::npos) << run.err;
}

} // namespace
