#include "net/CTelnetClient.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/Clock.h"
#include "wire/TelnetDialogue.h"

using namespace TelnetDialogue;

CTelnetClient::CTelnetClient() { m_Port.SetConnectTimeout(CONNECT_TIMEOUT_MS); }

CTelnetClient::~CTelnetClient() { Disconnect(); }

bool CTelnetClient::Connect(const std::string& address)
{
    // A connection still up (Connect without Disconnect) is ended first, so that its
    // receive thread never reads beside the new one. Lines and received bytes stay.
    StopReceiveThread();
    if (!m_Port.SetConfig(address, m_nPortNumber))
        return false;
    if (!m_Port.Open())
        return false;
    m_bStop = false;
    try {
        m_ReceiveThread = std::thread(&CTelnetClient::ReceiveThread, this);
    } catch (const std::system_error&) {
        // Without a receive thread no reply arrives; the commands fail on their own.
    }
    SendOption(WILL, OPT_ECHO);
    SendOption(WONT, OPT_REMOTE_FLOW_CONTROL);
    SendOption(DO, OPT_ECHO);
    SendOption(DO, OPT_SUPPRESS_GO_AHEAD);
    return true;
}

void CTelnetClient::StopReceiveThread()
{
    m_bStop = true;
    // The shutdown wakes a receive that waits; Close keeps a reconnection from reviving
    // the connection; then the thread finds the stop flag and ends.
    m_Port.Shutdown();
    m_Port.Close();
    if (m_ReceiveThread.joinable())
        m_ReceiveThread.join();
}

void CTelnetClient::Disconnect()
{
    m_Lines.clear();
    StopReceiveThread();
}

unsigned CTelnetClient::ReceiveThread(CTelnetClient* client)
{
    uint8_t buffer[RECEIVE_CHUNK];
    while (!client->m_bStop && client->m_Port.IsOpen()) {
        uint32_t count = 0;
        if (client->m_Port.Read(buffer, sizeof buffer, &count, INFINITE) && count > 0)
            client->m_RxBuffer.Append(buffer, static_cast<int>(count));
    }
    return 0;
}

bool CTelnetClient::SendOption(uint8_t verb, uint8_t option)
{
    const uint8_t bytes[3] = {IAC, verb, option};
    return m_Port.Write(bytes, sizeof bytes, OPTION_TIMEOUT_MS);
}

bool CTelnetClient::SendText(const std::string& text, uint32_t timeoutMs)
{
    const size_t length = std::strlen(text.c_str());
    return m_Port.Write(text.data(), static_cast<uint32_t>(length), timeoutMs);
}

std::vector<std::string> CTelnetClient::SplitReply(const uint8_t* data, size_t n)
{
    uint8_t text[MAX_REPLY_BYTES + 3];
    n = data == nullptr ? 0 : std::min<size_t>(n, MAX_REPLY_BYTES);
    if (n > 0)
        std::memcpy(text, data, n);
    if (n < 2 || text[n - 2] != '\r' || text[n - 1] != '\n') {
        text[n++] = '\r';
        text[n++] = '\n';
    }
    text[n] = '\0';

    std::vector<std::string> lines;
    const char* p = reinterpret_cast<const char*>(text);
    const char* end = p + n;
    while (*p != '\0') {
        const char* cut = nullptr;
        for (const char* q = p; q + 1 < end && *q != '\0'; ++q) {
            if (q[0] == '\r' && q[1] == '\n') {
                cut = q;
                break;
            }
        }
        if (cut == nullptr)
            break;
        lines.emplace_back(p, cut);
        p = cut + 2;
    }
    return lines;
}

bool CTelnetClient::WaitReply(uint32_t waitMs)
{
    m_Lines.clear();
    Sleep(std::max(waitMs, MIN_REPLY_WAIT_MS));
    uint8_t buffer[MAX_REPLY_BYTES + 3];
    const int n = m_RxBuffer.Fetch(buffer, MAX_REPLY_BYTES, 0, true);
    m_Lines = SplitReply(buffer, static_cast<size_t>(std::max(n, 0)));
    return !m_Lines.empty();
}

int CTelnetClient::FindLine(const std::string& pattern) const
{
    const int n = GetLineCount();
    if (n == 0)
        return -1;
    // The family A prompt is looked for in the last line only.
    if (pattern == PROMPT_FAMILY_A)
        return m_Lines.back().find(pattern) != std::string::npos ? n - 1 : -1;
    for (int i = n - 1; i >= 0; --i) {
        if (m_Lines[static_cast<size_t>(i)].find(pattern) != std::string::npos)
            return i;
    }
    return -1;
}

bool CTelnetClient::SendAndWait(const std::string& command, const std::string& expect, uint32_t waitMs)
{
    return SendText(command, COMMAND_TIMEOUT_MS) && WaitReply(waitMs) && FindLine(expect) != -1;
}

std::string CTelnetClient::GetLine(int index) const
{
    if (index < 0 || index >= GetLineCount())
        return {};
    return m_Lines[static_cast<size_t>(index)];
}
