#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "net/CLockedBuffer.h"
#include "net/CTcpPort.h"
#include "wire/RouterAddress.h"

// Line-oriented client for the router's Telnet service. It sends a fixed set of option
// requests when it connects, never answers the router's own requests, and stores every
// received byte (Telnet commands included). A command is answered by time: send it, sleep,
// take what has arrived, split it into lines and search them.
//
// Threads: the caller's thread and one receive thread per connection, which fills
// m_RxBuffer. Disconnect (and Connect, and the destructor) stop that thread and join it
// before they return, so at most one receive thread ever reads the connection.
class CTelnetClient {
public:
    static constexpr uint32_t OPTION_TIMEOUT_MS = 100;
    static constexpr uint32_t MIN_REPLY_WAIT_MS = 500;
    static constexpr int MAX_REPLY_BYTES = 2045;
    static constexpr uint32_t COMMAND_TIMEOUT_MS = 1000;
    // A connection gets the time-out of every text the client sends.
    static constexpr uint32_t CONNECT_TIMEOUT_MS = COMMAND_TIMEOUT_MS;
    static constexpr uint32_t RECEIVE_CHUNK = 1460;

    CTelnetClient();
    ~CTelnetClient();
    CTelnetClient(const CTelnetClient&) = delete;
    CTelnetClient& operator=(const CTelnetClient&) = delete;

    // Connects to the Telnet port of `address` (dotted IPv4), waiting at most CONNECT_TIMEOUT_MS.
    // Tests may override the port with SetPortNumber. False when the address is refused or
    // the connection fails, times out or is cancelled.
    bool Connect(const std::string& address);
    // Empties the lines, shuts the connection down, closes it and waits for the receive
    // thread to end.
    void Disconnect();

    // Sends IAC `verb` `option` with a 100 ms time-out.
    bool SendOption(uint8_t verb, uint8_t option);
    // Sends the text up to its first NUL (commands carry their own "\r\n").
    bool SendText(const std::string& text, uint32_t timeoutMs);
    // Sleeps `waitMs` (at least 500 ms), takes up to 2045 received bytes, drops the rest
    // and splits them into lines. True when there is at least one line (an empty reply
    // gives one empty line; only a reply that starts with a NUL byte gives none).
    bool WaitReply(uint32_t waitMs);
    // Index of the newest line containing `pattern`, or -1. "#" looks at the last line only.
    int FindLine(const std::string& pattern) const;
    // SendText(command, 1000), WaitReply(wait), FindLine(expect) != -1, each step only when
    // the one before succeeded.
    bool SendAndWait(const std::string& command, const std::string& expect, uint32_t waitMs);

    int GetLineCount() const { return static_cast<int>(m_Lines.size()); }
    // Copy of one line; empty for an index out of range.
    std::string GetLine(int index) const;
    const std::vector<std::string>& GetLines() const { return m_Lines; }

    bool IsConnected() const { return m_Port.IsOpen(); }
    // Bytes received and not yet taken by WaitReply.
    int PendingBytes() const { return m_RxBuffer.GetLength(); }
    // Port used by Connect instead of TELNET_PORT (tests; the router uses TELNET_PORT).
    void SetPortNumber(uint16_t port) { m_nPortNumber = port; }
    // Network interface the connections are tied to (empty: the system's choice).
    void SetInterface(const std::string& name) { m_Port.SetInterface(name); }
    // An event (or null; not owned) that ends a connection wait at once when it is set:
    // the check's stop request.
    void SetCancelHandle(const CWsaEvent* stop) { m_Port.SetCancelHandle(stop); }

    // Splits a reply as WaitReply does: CR LF is added when the text does not end with it,
    // each piece up to a CR LF becomes a line, text after a NUL byte is ignored, a lone CR
    // or LF does not split. `n` is cut to MAX_REPLY_BYTES.
    static std::vector<std::string> SplitReply(const uint8_t* data, size_t n);

private:
    static unsigned ReceiveThread(CTelnetClient* client);
    void StopReceiveThread();

    std::vector<std::string> m_Lines;
    CTcpPort m_Port;
    CLockedBuffer m_RxBuffer;
    std::thread m_ReceiveThread;
    std::atomic<bool> m_bStop{false};
    uint16_t m_nPortNumber = TELNET_PORT;
};
