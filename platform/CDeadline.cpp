#include "platform/CDeadline.h"

#include "platform/Clock.h"

CDeadline::CDeadline(uint32_t timeoutMs) : m_nStart(GetTickCount()), m_nTimeoutMs(timeoutMs) {}

uint32_t CDeadline::Left() const
{
    if (IsInfinite())
        return INFINITE;
    const uint32_t elapsed = TicksSince(m_nStart);
    return elapsed >= m_nTimeoutMs ? 0 : m_nTimeoutMs - elapsed;
}

int CDeadline::RealWaitMs() const { return ScaledPollTimeout(Left()); }
