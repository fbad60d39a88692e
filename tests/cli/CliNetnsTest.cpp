// The command line with no overrides at all, on a LAN of its own: a "pc" and a "router"
// network namespace joined by a veth pair (192.168.1.100/24 and 192.168.1.1/24). The
// simulator listens on 192.168.1.1, ports 23 and 1280; the command line finds it through
// the default 192.168.1.255 broadcast. Nothing leaves the two namespaces. A router there is
// not on loopback, so a time scale needs an explicit allowance.

#include "tests/cli/CliFixture.h"

#include <unistd.h>

namespace {

std::string IpProgram()
{
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return std::string();
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
        kivtest::TestProcess ip;
        if (!ip.Start(args))
            return false;
        int rc = ip.Wait(std::chrono::seconds(30));
        m_strLastError = ip.Err();
        return rc == 0;
    }

    bool m_bPc = false;
    bool m_bRouter = false;
    std::string m_strLastError;
};

class CliNetns : public kivtest::CliFixture {
protected:
    // The simulator on 192.168.1.1, ports 23 and 1280, at `scale`; true once it is ready.
    bool StartRouter(const TestLan& lan, kivtest::TestProcess& sim, const std::string& scale)
    {
        if (!sim.Start(lan.In(lan.m_Router, {kivtest::BuildProgram("sim/kivrouter-sim"), "--address", "192.168.1.1",
                "--router-port", "1280", "--telnet-port", "23", "--time-scale", scale, "--transcript",
                m_Dir / "transcript.jsonl"}), {{"KIV_TIME_SCALE", ""}}))
            return false;
        return sim.ReadUntil([](const std::string& out, const std::string&) {
            return out.find("ready") != std::string::npos;
        }, std::chrono::seconds(20));
    }
};

TEST_F(CliNetns, DefaultBroadcastFindsTheRouterOnItsOwnLan)
{
    TestLan lan;
    std::string why;
    if (!lan.Make(why))
        GTEST_SKIP() << "network namespaces cannot be made here (" << why << ")";

    kivtest::TestProcess sim;
    ASSERT_TRUE(StartRouter(lan, sim, "1")) << sim.Err();

    // No --target, no ports, no time scale: the real defaults.
    kivtest::TestProcess cli;
    ASSERT_TRUE(cli.Start(lan.In(lan.m_Pc, {kivtest::BuildProgram("cli/kivupgrade-cli"), "check", "--images",
        Samples("a"), "--json"}), {{"TMPDIR", m_Dir.Path()}, {"KIV_TIME_SCALE", ""}, {"KIV_DISCOVERY_TARGETS", ""},
        {"KIV_ROUTER_PORT", ""}, {"KIV_TELNET_PORT", ""}}));
    kivtest::CliRun run = Finish(cli, std::chrono::seconds(120));
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
        GTEST_SKIP() << "network namespaces cannot be made here (" << why << ")";

    kivtest::TestProcess sim;
    ASSERT_TRUE(StartRouter(lan, sim, Scale())) << sim.Err();

    auto check = [&](std::vector<std::string> extra, std::map<std::string, std::string> env) {
        std::vector<std::string> argv = {kivtest::BuildProgram("cli/kivupgrade-cli"), "check", "--images",
            Samples("a"), "--json"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        env.insert({{"TMPDIR", m_Dir.Path()}, {"KIV_DISCOVERY_TARGETS", ""}, {"KIV_ROUTER_PORT", ""},
            {"KIV_TELNET_PORT", ""}});
        kivtest::TestProcess cli;
        EXPECT_TRUE(cli.Start(lan.In(lan.m_Pc, argv), env));
        return Finish(cli, std::chrono::seconds(120));
    };
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", std::atof(Scale().c_str()));
    const std::string refusal = std::string("Time scale ") + scale
        + " refused: the router at 192.168.1.1 is not on loopback";

    kivtest::CliRun run = check({}, {{"KIV_TIME_SCALE", Scale()}, {"KIV_TIME_SCALE_ANY_ROUTER", ""}});
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_NE(run.json["reason"].get<std::string>().find(refusal), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(refusal), std::string::npos) << run.err;
    EXPECT_NE(Log().find(refusal), std::string::npos) << Log();
    EXPECT_EQ(Transcript().find("\"proto\":\"telnet\""), std::string::npos) << "the router was contacted";

    run = check({}, {{"KIV_TIME_SCALE", Scale()}, {"KIV_TIME_SCALE_ANY_ROUTER", "1"}});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.Cell("BOOT", "currentVersion"), "1.0.5.0");

    run = check({"--time-scale", Scale()}, {{"KIV_TIME_SCALE", ""}, {"KIV_TIME_SCALE_ANY_ROUTER", ""}});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.Cell("Firmware", "currentVersion"), "11.608.10.01.00");
    EXPECT_EQ(sim.Stop(), 0) << sim.Err();
}

} // namespace
