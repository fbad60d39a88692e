// The command line with no overrides at all, on a LAN of its own: a "pc" and a "router"
// network namespace joined by a veth pair (192.168.1.100/24 and 192.168.1.1/24). The
// simulator listens on 192.168.1.1, ports 23 and 1280; the command line finds it through
// the default 192.168.1.255 broadcast. Nothing leaves the two namespaces. A router there is
// not on loopback, so a time scale needs an explicit allowance.

#include <unistd.h>

#include "tests/support/CliFixture.h"
#include "tests/support/Strict.h"

namespace {

std::string IpProgram()
{
    return kivtest::FindProgram("ip", "/usr/sbin:/sbin");
}

// The two namespaces and the veth pair, removed in every case.
class TestLan {
public:
    TestLan()
        : m_Ip(IpProgram()), m_Pc("kivpc" + std::to_string(getpid())), m_Router("kivrt" + std::to_string(getpid()))
    {
    }
    ~TestLan()
    {
        if (m_bPc)
            Run({"netns", "del", m_Pc});
        if (m_bRouter)
            Run({"netns", "del", m_Router});
    }

    // Builds the LAN; on failure `why` says what could not be done.
    bool Make(std::string& why)
    {
        if (m_Ip.empty()) {
            why = "the ip program is not installed";
            return false;
        }
        if (geteuid() != 0) {
            why = "network namespaces need root";
            return false;
        }
        m_bPc = Run({"netns", "add", m_Pc});
        m_bRouter = m_bPc && Run({"netns", "add", m_Router});
        if (!m_bRouter) {
            why = "ip netns add failed: " + m_strLastError;
            return false;
        }
        std::string vp = "kvp" + std::to_string(getpid());
        std::string vr = "kvr" + std::to_string(getpid());
        const std::vector<std::vector<std::string>> steps = {
            {"link", "add", vp, "type", "veth", "peer", "name", vr},
            {"link", "set", vp, "netns", m_Pc},
            {"link", "set", vr, "netns", m_Router},
            {"-n", m_Pc, "addr", "add", "192.168.1.100/24", "broadcast", "192.168.1.255", "dev", vp},
            {"-n", m_Router, "addr", "add", "192.168.1.1/24", "broadcast", "192.168.1.255", "dev", vr},
            {"-n", m_Pc, "link", "set", "lo", "up"},
            {"-n", m_Router, "link", "set", "lo", "up"},
            {"-n", m_Pc, "link", "set", vp, "up"},
            {"-n", m_Router, "link", "set", vr, "up"},
        };
        for (const auto& step : steps) {
            if (!Run(step)) {
                why = "ip " + step[0] + " " + step[1] + " failed: " + m_strLastError;
                return false;
            }
        }
        return true;
    }

    // argv that runs `program` inside a namespace.
    std::vector<std::string> In(const std::string& ns, std::vector<std::string> argv) const
    {
        argv.insert(argv.begin(), {m_Ip, "netns", "exec", ns});
        return argv;
    }

    std::string m_Ip;
    std::string m_Pc;
    std::string m_Router;

private:
    bool Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), m_Ip);
        kivtest::Process ip;
        if (!ip.Start(args))
            return false;
        const int rc = ip.Wait(std::chrono::seconds(30));
        m_strLastError = ip.Err();
        return rc == 0;
    }

    bool m_bPc = false;
    bool m_bRouter = false;
    std::string m_strLastError;
};

class CliNetns : public kivtest::CliFixture {
protected:
    // The simulator as the router of the LAN: 192.168.1.1, its own ports 23 and 1280, at
    // `scale`, inside the "router" namespace.
    kivtest::SimOptions RouterOptions(const TestLan& lan, double scale) const
    {
        kivtest::SimOptions options;
        options.prefix = lan.In(lan.m_Router, {});
        options.address = "192.168.1.1";
        options.routerPort = "1280";
        options.telnetPort = "23";
        options.timeScale = scale;
        options.transcript = m_Dir / "transcript.jsonl";
        options.env = {{"KIV_TIME_SCALE", ""}};
        return options;
    }

    // kivupgrade-cli check in the "pc" namespace, no router overrides, `env` added.
    kivtest::CliRun CheckFromPc(const TestLan& lan, std::vector<std::string> extra, kivtest::Process::Env env)
    {
        std::vector<std::string> argv = {kivtest::BuildProgram(kivtest::kCliProgram), "check", "--images",
            Samples("a"), "--json"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        env.insert({{"TMPDIR", m_Dir.Path()}, {"KIV_DISCOVERY_TARGETS", ""}, {"KIV_ROUTER_PORT", ""},
            {"KIV_TELNET_PORT", ""}});
        kivtest::Process cli;
        if (!cli.Start(lan.In(lan.m_Pc, argv), env)) {
            ADD_FAILURE() << cli.Error();
            return kivtest::CliRun();
        }
        return Finish(cli, std::chrono::seconds(120));
    }
};

TEST_F(CliNetns, DefaultBroadcastFindsTheRouterOnItsOwnLan)
{
    TestLan lan;
    std::string why;
    if (!lan.Make(why))
        KIV_SKIP_OR_FAIL("network namespaces cannot be made here (" + why + ")");

    // The router's own ports and the real time scale, inside the "router" namespace.
    kivtest::SimProcess sim;
    ASSERT_TRUE(sim.Start({}, RouterOptions(lan, 1)));
    EXPECT_EQ(sim.RouterPort(), 1280);
    EXPECT_EQ(sim.TelnetPort(), 23);

    // No --target, no ports, no time scale: the real defaults.
    kivtest::CliRun run = CheckFromPc(lan, {}, {{"KIV_TIME_SCALE", ""}});
    EXPECT_EQ(sim.Stop(), 0) << sim.Err();

    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_TRUE(run.json.contains("router")) << run.out;
    EXPECT_EQ(run.json["router"]["ip"], "192.168.1.1");
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.5.0");  // read over Telnet on port 23
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.10.01.00");  // DIAG over TCP 1280
    std::string transcript = Transcript();
    EXPECT_NE(transcript.find("\"name\":\"discovery\""), std::string::npos);
}

// A time scale left in the environment is refused toward a router off loopback: the check
// stops right after discovery, before any Telnet or TCP contact. --time-scale or
// KIV_TIME_SCALE_ANY_ROUTER=1 allow it.
TEST_F(CliNetns, TimeScaleTowardARouterOffLoopbackNeedsAnAllowance)
{
    TestLan lan;
    std::string why;
    if (!lan.Make(why))
        KIV_SKIP_OR_FAIL("network namespaces cannot be made here (" + why + ")");
    const double scale = kivtest::TelnetTimeScale();
    kivtest::SimProcess sim;
    ASSERT_TRUE(sim.Start({}, RouterOptions(lan, scale)));

    const std::string refusal = "Time scale " + kivtest::ScaleArgument(scale)
        + " refused: the router at 192.168.1.1 is not on loopback";
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

} // namespace
