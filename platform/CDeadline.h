#pragma once

#include <cstdint>

// A time limit: `timeoutMs` scaled milliseconds from the moment it is made, on the platform
// tick count (0xFFFFFFFF, INFINITE, sets none). Every wait with a time-out keeps one and
// asks it what is left, so a wait that wakes early and waits again never stretches its
// limit, and the arithmetic (scale, wrap of the tick count, rounding) is done here only.
//
// This header declares no clock functions of its own, so the Windows sources that include
// windows.h (whose GetTickCount and Sleep the platform clock's header also declares) can use
// it.
class CDeadline {
public:
    explicit CDeadline(uint32_t timeoutMs);

    bool IsInfinite() const { return m_nTimeoutMs == 0xFFFFFFFFu; }
    // Scaled milliseconds left: INFINITE without a limit, 0 once the limit has passed.
    uint32_t Left() const;
    bool Passed() const { return !IsInfinite() && Left() == 0; }
    // Real milliseconds left, for the system's own waits: -1 without a limit; a fraction of
    // a millisecond counts as a whole one, so a wait that is not over never turns into a
    // busy look.
    int RealWaitMs() const;

private:
    uint32_t m_nStart;
    uint32_t m_nTimeoutMs;
};
