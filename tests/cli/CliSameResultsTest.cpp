// The program under test (the Windows kivupgrade-cli.exe under Wine, in the Windows stage)
// gives the same results as the Linux kivupgrade-cli for the same scenario: the same exit
// code, rows and JSON document (timings and the way each system writes a path aside), and
// the same sequence of events on the simulator's side, whose strict run judges the wire.
#include <filesystem>
#include <regex>

#include "tests/support/CliFixture.h"
#include "tests/support/SimFixture.h"

using kivtest::CliFixture;
using kivtest::CliRun;

namespace {

using Command = std::vector<std::string> (*)(const std::vector<std::string>&);

struct Scenario {
    const char* name;
    bool router;                  // a simulator answers (else nothing does)
    std::vector<std::string> sim; // its arguments
    const char* command;
    const char* family; // the sample images given, or "" for none
    int exitCode;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

// What one program's run left: its outcome, and the simulator's events in order.
struct Outcome {
    CliRun run;
    std::vector<std::string> events;
};

class CliSameResults : public CliFixture, public ::testing::WithParamInterface<Scenario> {
protected:
    // Runs the scenario with `program` against a simulator of its own, in CliEnv() changed
    // by `env`.
    Outcome Run(Command program, const kivtest::Process::Env& env = {})
    {
        const Scenario& scenario = GetParam();
        Outcome outcome;
        if (scenario.router) {
            if (!StartSim(scenario.sim))
                return outcome;
        } else {
            m_strRouterPort = m_strTelnetPort = std::to_string(m_NoService.Port());
        }
        std::vector<std::string> args = {scenario.command, "--target", "127.0.0.1", "--router-port", m_strRouterPort};
        if (std::string(scenario.command) != "discover")
            args.insert(args.end(), {"--telnet-port", m_strTelnetPort});
        if (*scenario.family)
            args.insert(args.end(), {"--images", Samples(scenario.family)});
        args.push_back("--json");
        outcome.run = RunArgv(program(args), env, std::chrono::seconds(150));
        if (scenario.router) {
            StopSim();
            for (const nlohmann::json& record : kivtest::ParseJsonLines(Transcript())) {
                if (record.contains("event"))
                    outcome.events.push_back(record["event"].get<std::string>());
            }
            std::filesystem::remove(m_Dir / "transcript.jsonl");
        }
        return outcome;
    }

    // The JSON document without what differs from run to run or from system to system by
    // nature: timings (how long a download took), the paths the program writes in its own
    // system's form (given to it alike), the network adapters (each system names its own).
    static nlohmann::json Comparable(nlohmann::json json)
    {
        static const std::regex DURATION(R"(\(\d+:\d\d\))");
        if (!json.is_object())
            return json;
        json.erase("elapsedMs");
        json.erase("log");
        json.erase("images");
        json.erase("interfaces");
        json.erase("hint");
        for (nlohmann::json& router : json["routers"])
            router.erase("interface");
        if (json["routers"].empty())
            json.erase("routers");
        for (nlohmann::json& row : json["rows"])
            row["status"] = std::regex_replace(row["status"].get<std::string>(), DURATION, "(MM:SS)");
        return json;
    }
};

// A row's status once its component is written.
constexpr const char* WRITTEN = "Download successfully (MM:SS)";

TEST_P(CliSameResults, AsTheLinuxProgram)
{
    // The Linux program keeps its log (and its lock) in the test's directory too.
    const Outcome linux = Run(&LinuxCliCommand, {{"TMPDIR", m_Dir.Path()}});
    const Outcome tested = Run(&CliCommand);
    EXPECT_EQ(linux.run.exitCode, GetParam().exitCode) << linux.run.err;
    EXPECT_EQ(tested.run.exitCode, GetParam().exitCode) << tested.run.err;
    ASSERT_TRUE(tested.run.json.is_object()) << tested.run.out << tested.run.err;
    EXPECT_EQ(Comparable(tested.run.json), Comparable(linux.run.json))
        << nlohmann::json::diff(Comparable(linux.run.json), Comparable(tested.run.json)).dump();
    EXPECT_EQ(tested.events, linux.events);
    // Both say where the log is and what they found, each in its own system's form.
    if (std::string(GetParam().command) != "discover") {
        EXPECT_EQ(tested.run.json["log"], CliPath(m_Dir / "KivUpgradeLog.txt"));
        EXPECT_EQ(linux.run.json["log"], m_Dir / "KivUpgradeLog.txt");
    }
    if (std::string(GetParam().command) == "upgrade" && GetParam().exitCode == 0) {
        for (const nlohmann::json& row : Comparable(tested.run.json)["rows"])
            EXPECT_EQ(row["status"], WRITTEN) << row["type"];
    }
    if (!GetParam().router) { // no router: the hint, on both
        EXPECT_FALSE(tested.run.json["hint"].empty()) << tested.run.out;
        EXPECT_FALSE(linux.run.json["hint"].empty()) << linux.run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CliSameResults,
    ::testing::Values(Scenario{"CheckFamilyA", true, {"--family", "A"}, "check", "a", 0},
                      Scenario{"CheckFamilyB", true, {"--family", "B"}, "check", "b", 0},
                      Scenario{"Discover", true, {}, "discover", "", 0},
                      Scenario{"UpgradeFamilyA", true, {"--family", "A"}, "upgrade", "a", 0},
                      Scenario{"UpgradeFamilyB", true, {"--family", "B"}, "upgrade", "b", 0},
                      Scenario{"FirmwareBlockRefusedOnce", true, {"--fault", "nak-block=1"}, "upgrade", "a", 0},
                      Scenario{"NoRouter", false, {}, "check", "a", 1}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

} // namespace
