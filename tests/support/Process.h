#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kivtest {

// Programs of the build under test, relative to KIV_TEST_BIN_DIR (kiv_add_test sets it).
constexpr const char* SIM_PROGRAM = "sim/kivrouter-sim";
constexpr const char* CLI_PROGRAM = "cli/kivupgrade-cli";
constexpr const char* IMAGE_PROGRAM = "tools/kivimage/kivimage";
constexpr const char* APP_PROGRAM = "gui/kivupgrade";

// Full path of a program of the build under test.
std::string BuildProgram(const std::string& relative);

// Full path of `name` found in PATH, then in `extraDirs` (":"-separated); "" when none.
std::string FindProgram(const std::string& name, const std::string& extraDirs = "");

// A child process started by a test: standard output and error read through pipes, stopped
// by its own process id, reaped in every case (the destructor kills what still runs).
class Process {
public:
    // Changes to the test's own environment: a value replaces (or adds) the variable, an
    // empty value removes it.
    using Env = std::map<std::string, std::string>;
    using Until = std::function<bool(const std::string& out, const std::string& err)>;

    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts argv[0] (a path). A `stdioFd` >= 0 becomes the child's standard input and output
    // instead of the pipe (standard error is still read). False, with Error() saying why,
    // when the program cannot be started.
    bool Start(const std::vector<std::string>& argv, const Env& env = {}, int stdioFd = -1);

    // Reads output until `until` holds, both pipes end (when `until` is null) or `limit`
    // passes. True when `until` held, or the pipes ended for a null `until`.
    bool ReadUntil(const Until& until, std::chrono::milliseconds limit);
    // Reads until standard output holds one whole line; that line, or "" at the limit.
    std::string FirstLine(std::chrono::milliseconds limit);

    // Waits for the end of the output and of the process: its exit status, 128 + signal when
    // a signal ended it, or -1 when it had to be killed at the limit.
    int Wait(std::chrono::milliseconds limit);
    // Sends `sig` (0: none, just wait), then waits as Wait does.
    int Stop(int sig = SIGTERM, std::chrono::milliseconds limit = std::chrono::seconds(10));
    void Signal(int sig);

    // True while the process was started and not yet reaped (it may have ended meanwhile).
    bool Running() const { return m_Pid > 0; }
    // True when the process runs still; false once it has ended (it is then reaped).
    bool Alive();
    pid_t Pid() const { return m_Pid; }
    const std::string& Out() const { return m_strOut; }
    const std::string& Err() const { return m_strErr; }
    const std::string& Error() const { return m_strError; }

private:
    void ReadOne(short revents, int& fd, std::string& text);
    int Reap();
    void Kill();
    void CloseFds();

    pid_t m_Pid = -1;
    int m_Out = -1;
    int m_Err = -1;
    int m_nStatus = -1;
    std::string m_strOut;
    std::string m_strErr;
    std::string m_strError;
};

// One run of a program to its end.
struct RunResult {
    int status = -1; // as Process::Wait
    std::string out;
    std::string err;
};
RunResult RunProgram(const std::vector<std::string>& argv, const Process::Env& env = {},
                     std::chrono::milliseconds limit = std::chrono::seconds(60));

} // namespace kivtest
