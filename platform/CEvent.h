#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/NonCopyable.h"

// Event object over a mutex and a condition variable. Auto-reset by default: a successful
// wait consumes the signal. A manual-reset event stays signalled until Reset.
class CEvent : public NonCopyable {
public:
    explicit CEvent(bool manualReset = false, bool initiallySet = false);

    bool Set();
    bool Reset();
    // Waits up to `ms` scaled milliseconds (INFINITE waits without limit).
    // True when the event was signalled.
    bool Wait(uint32_t ms);
    bool IsSet() const;

private:
    mutable std::mutex m_Mutex;
    std::condition_variable m_Cond;
    bool m_bManualReset;
    bool m_bSignalled;
};
