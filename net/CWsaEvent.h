#pragma once

#include <cstdint>

#include "platform/CPollableEvent.h"
#include "platform/NonCopyable.h"

// Manual-reset event that a port waits on with poll() next to its socket (the purge signal
// of the TCP port). Created not signalled. Creation failure is not reported: Handle() is
// then -1 and IsValid() false, and every user tests it before use.
class CWsaEvent : public NonCopyable {
public:
    CWsaEvent() = default;
    ~CWsaEvent() override = default;

    bool IsValid() const { return m_Event.Handle() >= 0; }
    // Descriptor for a pollfd (readable while signalled), or -1.
    int Handle() const { return m_Event.Handle(); }

    bool Set() { return m_Event.Set(); }
    bool Reset() { return m_Event.Reset(); }
    bool IsSet() const { return m_Event.IsSet(); }
    // Waits up to `ms` scaled milliseconds; true when signalled. The signal stays set.
    bool Wait(uint32_t ms) const { return m_Event.Wait(ms); }

private:
    CPollableEvent m_Event;
};
