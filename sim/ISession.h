#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One accepted TCP connection as its protocol sees it: bytes in, bytes out, and the wish
// to end the connection. Sessions know nothing of sockets, so that they can be driven
// directly by tests and fuzzers.
class ISession {
public:
    virtual ~ISession() = default;

    // Called once, right after the connection was accepted.
    virtual void OnConnect() {}
    virtual void OnBytes(const uint8_t* data, size_t length) = 0;
    // Lets time-driven work happen; `now` is the scaled tick count.
    virtual void Tick(uint32_t now) { (void)now; }
    // Scaled ms until Tick has something to do, or -1 for nothing pending.
    virtual int64_t MsUntilNextEvent(uint32_t now) const
    {
        (void)now;
        return -1;
    }

    // Bytes waiting to be sent; the owner removes what it has sent.
    std::vector<uint8_t>& Output() { return m_Out; }
    // Close after the pending output went out.
    bool WantsClose() const { return m_bClose; }
    // Drop the connection at once with a reset.
    bool WantsReset() const { return m_bReset; }

protected:
    void Send(const uint8_t* data, size_t length) { m_Out.insert(m_Out.end(), data, data + length); }

    std::vector<uint8_t> m_Out;
    bool m_bClose = false;
    bool m_bReset = false;
};
