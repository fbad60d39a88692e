#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/CliRun.h"
#include "tests/support/Process.h"
#include "tests/support/SilentPort.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"

namespace kivtest {

// kivupgrade-cli against kivrouter-sim on 127.0.0.1: both as programs, time-scaled (at the
// Telnet floor: a check reads Telnet replies), the download log and the transcript in the
// test's own directory, the sample images shared by the test program.
class CliFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void TearDown() override;

    // The sample images of family "a" or "b".
    static std::string Samples(const std::string& family);
    // The scale both programs run at.
    static std::string Scale();

    // Starts the simulator with `args` (and `scale`, when given); false, with a failure,
    // when it does not get ready. A simulator without Telnet leaves a port where nothing
    // listens as the Telnet port.
    bool StartSim(const std::vector<std::string>& args, const std::string& scale = std::string());
    // Stops the simulator, expecting its clean exit.
    void StopSim();

    // The command line for `command` against the simulator (with --images when given).
    std::vector<std::string> CliArgs(const std::string& command, const std::string& images, bool json = true) const;
    // The environment: TMPDIR is the test's directory (and the history's state directory
    // below it), the router overrides are removed; then m_ExtraEnv over it.
    Process::Env CliEnv() const;
    // Waits for a started kivupgrade-cli and collects its run.
    CliRun Finish(Process& cli, std::chrono::seconds limit);
    // Runs `argv` (kivupgrade-cli and its arguments, perhaps behind a command that runs it
    // elsewhere) to its end, in CliEnv() changed by `env` (an empty value removes).
    CliRun RunArgv(const std::vector<std::string>& argv, const Process::Env& env = {},
                   std::chrono::seconds limit = std::chrono::seconds(300));
    CliRun RunCli(const std::string& command, const std::string& images, std::vector<std::string> extra = {},
                  std::chrono::seconds limit = std::chrono::seconds(300));

    std::string Log() const;
    std::string Transcript() const;
    // The upgrade history kivupgrade-cli keeps in the test's state directory.
    std::string HistoryPath() const { return m_Dir / "state/kivupgrade/history.jsonl"; }

    TempDir m_Dir{"kiv-cli"};
    SimProcess m_Sim;
    SilentPort m_NoService;
    std::string m_strRouterPort;
    std::string m_strTelnetPort;
    Process::Env m_ExtraEnv; // added to CliEnv()
};

} // namespace kivtest
