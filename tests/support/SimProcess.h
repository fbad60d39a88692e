#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/TimeScale.h"

namespace kivtest {

// How SimProcess starts the simulator.
struct SimOptions {
    std::string address = "127.0.0.1";
    std::string routerPort = "0";
    std::string telnetPort = "0";
    double timeScale = TestTimeScale();
    std::string transcript;          // --transcript FILE when not empty
    std::vector<std::string> prefix; // runs the simulator through this command (ip netns exec NS)
    Process::Env env;
    // --strict: the simulator exits 3 when the peer broke the protocol. Every test judges the
    // wire this way unless it turns it off.
    bool strict = true;
};

// kivrouter-sim as a program of its own: started (by default strict, on 127.0.0.1 with the
// ports left to the system), its "ready" line read and parsed for the ports it took, stopped
// by its process id. A missing program is the caller's to skip
// (KIV_REQUIRE_PROGRAM(Program())); a present program that does not get ready is a failure.
// A simulator still running when its SimProcess ends is stopped then, and anything but exit
// status 0 (3: the peer broke the protocol) fails the test; a caller that stops it itself
// checks the status Stop returns.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    static std::string Program() { return BuildProgram(SIM_PROGRAM); }

    // Starts the simulator with `args` after the options' own and waits for "ready".
    ::testing::AssertionResult Start(const std::vector<std::string>& args = {},
                                     const SimOptions& options = SimOptions());

    uint16_t RouterPort() const { return m_nRouterPort; }
    // 0 when the simulator serves no Telnet (fault telnet-refused).
    uint16_t TelnetPort() const { return m_nTelnetPort; }
    const std::string& ReadyLine() const { return m_strReadyLine; }

    // Sends `sig` and waits for the exit: the exit status, or as Process::Stop.
    int Stop(int sig = SIGTERM, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        return m_Process.Stop(sig, limit);
    }
    // Stops a running simulator and fails the test unless it exited 0.
    void ExpectCleanExit();
    Process& GetProcess() { return m_Process; }
    const std::string& Err() const { return m_Process.Err(); }

private:
    Process m_Process;
    std::string m_strReadyLine;
    uint16_t m_nRouterPort = 0;
    uint16_t m_nTelnetPort = 0;
};

// The ports of a "ready" line ("... ready address=A router-port=N telnet-port=M"); false when
// the line is not one.
bool ParseReadyLine(const std::string& line, uint16_t& routerPort, uint16_t& telnetPort);

} // namespace kivtest
