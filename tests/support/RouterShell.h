#pragma once

#include <map>
#include <mutex>
#include <string>

#include "tests/support/TcpPeer.h"

class CTelnetClient;

namespace kivtest {

// A fake router shell on a TcpPeer: "Login:", then "\r\nPassword:", then the "router#"
// prompt. Each command line is answered from a table as "\r\n" ANSWER "\r\nrouter#", or with
// raw text sent as it is; an unknown command gets "\r\nunknown command\r\nrouter#"; "quit"
// closes the connection. The peer's raw capture holds what the client sent, Telnet option
// requests included.
class RouterShell {
public:
    RouterShell();
    uint16_t Port() const { return m_Peer.Port(); }
    void SetAnswer(const std::string& command, const std::string& answer);
    void SetRawAnswer(const std::string& command, const std::string& raw);
    TcpPeer& Peer() { return m_Peer; }

private:
    TcpPeer::LineAnswer Answer(const std::string& line);

    std::mutex m_Mutex;
    std::map<std::string, std::string> m_Answers;
    std::map<std::string, std::string> m_RawAnswers;
    int m_nLine = 0; // lines of the current connection; only the peer's thread uses it
    TcpPeer m_Peer;  // last: its thread stops before the tables go
};

// Collects a Telnet client's replies until their text contains `needle` (within GUARD_MS);
// the text goes to `all`.
bool WaitForText(CTelnetClient& client, const std::string& needle, std::string& all);

} // namespace kivtest
