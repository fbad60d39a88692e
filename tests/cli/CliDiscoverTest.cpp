// kivupgrade-cli on loopback: the discover command, the advice when no router answers,
// --interface mistakes, and hosts that answer the discovery wrongly.
#include "tests/support/CliFixture.h"

#include <chrono>

#include "tests/support/Files.h"
#include "tests/support/Wait.h"

namespace {

using kivtest::CliFixture;
using kivtest::CliRun;
using kivtest::Process;
using kivtest::SimOptions;
using kivtest::SimProcess;

class CliDiscover : public CliFixture {
protected:
    // A simulator on 127.0.0.`octet` with its own transcript; `routerPort` "0" lets it pick.
    bool StartOn(SimProcess& sim, const std::string& octet, const std::string& routerPort,
                 std::vector<std::string> args, double scale = kivtest::TelnetTimeScale())
    {
        SimOptions options;
        options.address = "127.0.0." + octet;
        options.routerPort = routerPort;
        options.transcript = m_Dir / ("transcript-" + octet + ".jsonl");
        options.timeScale = scale;
        const ::testing::AssertionResult started = sim.Start(args, options);
        EXPECT_TRUE(started);
        return started;
    }
    std::string TranscriptOf(const std::string& octet) const
    {
        return kivtest::ReadRequiredFile(m_Dir / ("transcript-" + octet + ".jsonl"));
    }
    // kivupgrade-cli COMMAND ARGS... --json, in the test's environment.
    CliRun Run(const std::string& command, std::vector<std::string> args, bool json = true)
    {
        args.insert(args.begin(), command);
        args = CliCommand(args);
        if (json)
            args.push_back("--json");
        return RunArgv(args, {}, std::chrono::seconds(120));
    }
    static bool Has(const nlohmann::json& lines, const std::string& piece)
    {
        for (const auto& line : lines) {
            if (line.get<std::string>().find(piece) != std::string::npos)
                return true;
        }
        return false;
    }
};

// One connection event of the simulator's Telnet or TCP service.
bool AnyConnection(const std::string& transcript) { return transcript.find("\"connected\"") != std::string::npos; }

TEST_F(CliDiscover, TwoRoutersAreListedAndTheCheckKeepsTheFirst)
{
    SimProcess first;
    SimProcess second;
    ASSERT_TRUE(StartOn(first, "2", "0", {"--mac", "02-00-00-00-00-0A", "--discovery-text", "1.0.0.2"}));
    const std::string port = std::to_string(first.RouterPort());
    ASSERT_TRUE(StartOn(second, "3", port, {"--mac", "02-00-00-00-00-0B", "--discovery-text", "1.0.0.3"}));

    CliRun run = Run("discover", {"--target", "127.0.0.2", "--target", "127.0.0.3", "--router-port", port});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_EQ(run.json["routers"].size(), 2u) << run.out;
    EXPECT_EQ(run.json["routers"][0]["ip"], "127.0.0.2");
    EXPECT_EQ(run.json["routers"][0]["mac"], "02-00-00-00-00-0A");
    EXPECT_EQ(run.json["routers"][0]["text"], "1.0.0.2");
    EXPECT_EQ(run.json["routers"][0]["interface"], "lo");
    EXPECT_EQ(run.json["routers"][1]["ip"], "127.0.0.3");
    EXPECT_EQ(run.json["routers"][1]["mac"], "02-00-00-00-00-0B");
    EXPECT_EQ(run.json["interfaces"][0]["name"], "lo");
    EXPECT_TRUE(run.json["hint"].empty());

    run = Run("discover", {"--target", "127.0.0.2", "--target", "127.0.0.3", "--router-port", port}, false);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Router 127.0.0.2  MAC 02-00-00-00-00-0A  \"1.0.0.2\"  on lo"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("2 routers found."), std::string::npos);

    // The check takes the first router that answered and talks to no other.
    run = Run("check", {"--target", "127.0.0.2", "--target", "127.0.0.3", "--router-port", port, "--telnet-port",
                        std::to_string(first.TelnetPort()), "--images", Samples("a")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.json["router"]["ip"], "127.0.0.2");
    EXPECT_EQ(run.json["router"]["mac"], "02-00-00-00-00-0A");
    EXPECT_TRUE(AnyConnection(TranscriptOf("2")));
    EXPECT_FALSE(AnyConnection(TranscriptOf("3")));
    EXPECT_NE(Log().find("Router found: 127.0.0.2, MAC 02-00-00-00-00-0A"), std::string::npos);
}

TEST_F(CliDiscover, NoAnswerGivesTheHintInTextJsonAndLog)
{
    const std::string silent = std::to_string(m_NoService.Port());
    CliRun run = Run("discover", {"--target", "127.0.0.1", "--router-port", silent});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.json["routers"].empty());
    EXPECT_TRUE(Has(run.json["hint"], "lo is on the subnet of 127.0.0.1 (127.0.0.0/8)."));
    EXPECT_TRUE(Has(run.json["hint"], "--interface NAME"));
    EXPECT_TRUE(Has(run.json["hint"], "--target ADDRESS"));

    run = Run("check", {"--target", "127.0.0.1", "--router-port", silent, "--images", Samples("a")}, false);
    EXPECT_EQ(run.exitCode, 1);
    // The hint stands under the result.
    const size_t result = run.out.find("Result: failure: The check failed: No router is detected");
    ASSERT_NE(result, std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  lo is on the subnet of 127.0.0.1 (127.0.0.0/8).", result), std::string::npos) << run.out;
    EXPECT_NE(Log().find("没有检测到路由器"), std::string::npos);
    EXPECT_NE(Log().find("lo is on the subnet of 127.0.0.1 (127.0.0.0/8)."), std::string::npos);

    run = Run("check", {"--target", "127.0.0.1", "--router-port", silent, "--images", Samples("a")});
    EXPECT_TRUE(Has(run.json["hint"], "lo is on the subnet of 127.0.0.1 (127.0.0.0/8)."));
    EXPECT_EQ(run.json["warnings"], nlohmann::json::array({"No router is detected"}));
}

TEST_F(CliDiscover, BadInterfaceNamesAreUsageErrorsThatListTheInterfaces)
{
    for (const std::string& name : {std::string("nosuch0"), std::string(200, 'x')}) {
        for (const char* command : {"discover", "check", "upgrade"}) {
            SCOPED_TRACE(std::string(command) + " " + name.substr(0, 10));
            CliRun run = Run(command, {"--interface", name, "--target", "127.0.0.1"}, false);
            EXPECT_EQ(run.exitCode, 2);
            EXPECT_NE(run.err.find("there is no network interface named"), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("lo 127.0.0.1/8"), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
        }
    }
    CliRun run = Run("discover", {"--images", Samples("a")}, false);
    EXPECT_EQ(run.exitCode, 2);
}

TEST_F(CliDiscover, AHostThatNamesAnotherIsNeverContacted)
{
    // 127.0.0.3 answers naming 127.0.0.9, where a real router listens on the same ports.
    SimProcess victim;
    SimProcess liar;
    ASSERT_TRUE(StartOn(victim, "9", "0", {}));
    const std::string port = std::to_string(victim.RouterPort());
    ASSERT_TRUE(StartOn(liar, "3", port, {"--fault", "discovery-names=127.0.0.9"}));
    CliRun run = Run("upgrade", {"--target", "127.0.0.3", "--router-port", port, "--telnet-port",
                                 std::to_string(victim.TelnetPort()), "--images", Samples("a")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.json["router"].is_null()) << run.out;
    EXPECT_EQ(run.json["upgradeRan"], false);
    EXPECT_FALSE(AnyConnection(TranscriptOf("9")));
    EXPECT_EQ(TranscriptOf("9").find("\"name\":\"discovery\""), std::string::npos);
    EXPECT_NE(Log().find("discovery reply from 127.0.0.3 skipped: it names 127.0.0.9, not its own address"),
              std::string::npos);
}

TEST_F(CliDiscover, RepliesOfOneOrThirtyThreeBytesAreSkipped)
{
    for (const char* size : {"1", "31", "33"}) {
        SCOPED_TRACE(size);
        SimProcess sim;
        ASSERT_TRUE(StartOn(sim, "3", "0", {"--fault", std::string("discovery-size=") + size}));
        CliRun run = Run("discover", {"--target", "127.0.0.3", "--router-port", std::to_string(sim.RouterPort())});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.json["routers"].empty());
        EXPECT_TRUE(Has(run.json["skipped"], std::string(size) + " bytes, not one 32-byte record")) << run.out;
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST_F(CliDiscover, AFloodDoesNotStretchTheTriesAndCtrlCEndsTheWaitAtOnce)
{
    // A wrong record every 100 ms after each request, never an answer.
    SimProcess flood;
    ASSERT_TRUE(StartOn(flood, "3", "0", {"--fault", "no-discovery", "--fault", "discovery-flood=100"}));
    const std::string port = std::to_string(flood.RouterPort());
    CliRun run = Run("discover", {"--target", "127.0.0.3", "--router-port", port});
    EXPECT_EQ(run.exitCode, 1);
    // Three tries of 3000 ms and two or three 100 ms pauses, in scaled ms. Waiting 3000 ms
    // after each datagram instead would never end while the flood goes on: the run would be
    // stopped at its limit, and its exit status would not be 1.
    EXPECT_GE(run.json["elapsedMs"].get<int>(), 3 * 3000);
    EXPECT_TRUE(Has(run.json["skipped"], "record of type 2"));

    // Four times slower than real time, so that a try lasts 12 s: Ctrl-C right after the
    // request ends it at once, long before its time-out.
    SimProcess slow;
    ASSERT_TRUE(StartOn(slow, "4", "0", {"--fault", "no-discovery", "--fault", "discovery-flood=100"}, 1.0));
    Process cli;
    Process::Env env = CliEnv();
    env["KIV_TIME_SCALE"] = "4";
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(cli.Start(CliCommand({"check", "--target", "127.0.0.4", "--router-port",
                                      std::to_string(slow.RouterPort()), "--images", Samples("a")}),
                          env));
    const auto requested = [&] { return TranscriptOf("4").find("\"name\":\"discovery\"") != std::string::npos; };
    EXPECT_TRUE(kivtest::WaitFor(requested, 20000));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(std::chrono::seconds(30)), 1);
    // The try began after the program started, so its time-out lies at least 12 s after that.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(12)) << cli.Err();
    EXPECT_NE(cli.Out().find("The check was interrupted."), std::string::npos) << cli.Out();
}

} // namespace
