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
//
// The program under test is the build's kivupgrade-cli, or the command line in
// KIV_CLI_UNDER_TEST (words split at spaces: a launcher and the program, for example
// "wine /path/kivupgrade-cli.exe" inside a Wine session). A program whose name ends in
// ".exe" is a Windows program: it names the test's paths as Windows does (Z:\...), and
// finds its temporary directory through KIV_WINE_TEMP (tests/cli/WineCliSession.sh).
class CliFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void TearDown() override;

    // The command that starts the program under test, then `args`.
    static std::vector<std::string> CliCommand(const std::vector<std::string>& args = {});
    // The Linux kivupgrade-cli of the build, whatever KIV_CLI_UNDER_TEST says.
    static std::vector<std::string> LinuxCliCommand(const std::vector<std::string>& args = {});
    // True when the program under test is a Windows program.
    static bool WindowsCli();
    // `path` (absolute, on this side) as the program under test writes it.
    static std::string CliPath(const std::string& path);
    // The file `name` in the directory `dir` given to the program under test, as it names it
    // (a Windows program writes the system's separator, the backslash, throughout).
    static std::string CliFile(const std::string& dir, const std::string& name);

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
    // The environment: TMPDIR (KIV_WINE_TEMP, for a Windows program) is the test's directory
    // (and the history's state directory below it), the router overrides are removed; then
    // m_ExtraEnv over it.
    Process::Env CliEnv() const;
    // Waits for a started kivupgrade-cli and collects its run (the CR LF line ends of a
    // Windows program read as LF).
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
