#include "tests/support/SimProcess.h"

#include <regex>

namespace kivtest {

namespace {
constexpr auto READY_LIMIT = std::chrono::seconds(20);
} // namespace

bool ParseReadyLine(const std::string& line, uint16_t& routerPort, uint16_t& telnetPort)
{
    std::smatch match;
    if (!std::regex_search(line, match, std::regex(R"(ready .*router-port=(\d+) telnet-port=(\d+))")))
        return false;
    routerPort = static_cast<uint16_t>(std::stoul(match[1]));
    telnetPort = static_cast<uint16_t>(std::stoul(match[2]));
    return true;
}

::testing::AssertionResult SimProcess::Start(const std::vector<std::string>& args, const SimOptions& options)
{
    std::vector<std::string> argv = options.prefix;
    argv.insert(argv.end(), {Program(), "--address", options.address, "--router-port", options.routerPort,
                             "--telnet-port", options.telnetPort, "--time-scale", ScaleArgument(options.timeScale)});
    if (!options.transcript.empty())
        argv.insert(argv.end(), {"--transcript", options.transcript});
    if (options.strict)
        argv.push_back("--strict");
    argv.insert(argv.end(), args.begin(), args.end());
    if (!m_Process.Start(argv, options.env))
        return ::testing::AssertionFailure() << m_Process.Error();
    m_strReadyLine = m_Process.FirstLine(READY_LIMIT);
    if (!ParseReadyLine(m_strReadyLine, m_nRouterPort, m_nTelnetPort)) {
        const int status = m_Process.Stop(SIGTERM);
        return ::testing::AssertionFailure() << "kivrouter-sim did not say ready (exit status " << status
                                             << "): " << m_Process.Out() << m_Process.Err();
    }
    return ::testing::AssertionSuccess();
}

SimProcess::~SimProcess() { ExpectCleanExit(); }

void SimProcess::ExpectCleanExit()
{
    if (!m_Process.Running())
        return;
    const int status = Stop();
    if (status != 0)
        ADD_FAILURE() << "kivrouter-sim exited with status " << status
                      << (status == 3 ? " (the peer broke the protocol)" : "") << ":\n"
                      << m_Process.Err();
}

} // namespace kivtest
