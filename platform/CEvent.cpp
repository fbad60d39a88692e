#include "platform/CEvent.h"

#include "platform/Clock.h"

CEvent::CEvent(bool manualReset, bool initiallySet) : m_bManualReset(manualReset), m_bSignalled(initiallySet) {}

bool CEvent::Set()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bSignalled = true;
    }
    if (m_bManualReset)
        m_Cond.notify_all();
    else
        m_Cond.notify_one();
    return true;
}

bool CEvent::Reset()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bSignalled = false;
    return true;
}

bool CEvent::IsSet() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_bSignalled;
}

bool CEvent::Wait(uint32_t ms)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    auto ready = [this] { return m_bSignalled; };
    if (ms == INFINITE) {
        m_Cond.wait(lock, ready);
    } else if (!m_Cond.wait_for(lock, ScaledDuration(ms), ready)) {
        return false;
    }
    if (!m_bManualReset)
        m_bSignalled = false;
    return true;
}
