#include "tests/support/RouterShell.h"

#include "net/CTelnetClient.h"
#include "tests/support/Wait.h"

namespace kivtest {

namespace {
const char* const PROMPT = "\r\nrouter#";
} // namespace

RouterShell::RouterShell()
{
    m_Peer.SetConnectHandler([this] {
        m_nLine = 0;
        return std::string("Login:");
    });
    m_Peer.SetLineResponder([this](const std::string& line) { return Answer(line); });
}

void RouterShell::SetAnswer(const std::string& command, const std::string& answer)
{
    std::lock_guard lock(m_Mutex);
    m_Answers[command] = answer;
}

void RouterShell::SetRawAnswer(const std::string& command, const std::string& raw)
{
    std::lock_guard lock(m_Mutex);
    m_RawAnswers[command] = raw;
}

TcpPeer::LineAnswer RouterShell::Answer(const std::string& line)
{
    switch (++m_nLine) {
    case 1: // the user name
        return {"\r\nPassword:"};
    case 2: // the password
        return {PROMPT};
    default: break;
    }
    if (line == "quit")
        return {"", true};
    std::lock_guard lock(m_Mutex);
    if (auto raw = m_RawAnswers.find(line); raw != m_RawAnswers.end())
        return {raw->second};
    if (auto it = m_Answers.find(line); it != m_Answers.end())
        return {"\r\n" + it->second + PROMPT};
    return {std::string("\r\nunknown command") + PROMPT};
}

bool WaitForText(CTelnetClient& client, const std::string& needle, std::string& all)
{
    all.clear();
    return WaitFor([&] {
        client.WaitReply(500);
        for (const std::string& line : client.GetLines())
            all += line;
        return all.find(needle) != std::string::npos;
    });
}

} // namespace kivtest
