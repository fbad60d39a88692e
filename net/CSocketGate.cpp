#include "net/CSocketGate.h"

#include "platform/Clock.h"

CSocketGate::CUse::CUse(CSocketGate& gate, uint32_t timeoutMs) : m_Gate(gate)
{
    std::unique_lock lock(m_Gate.m_Mutex);
    const auto unchanged = [this] { return !m_Gate.m_bChanging; };
    if (timeoutMs == INFINITE) {
        m_Gate.m_Changed.wait(lock, unchanged);
    } else if (!m_Gate.m_Changed.wait_for(lock, ScaledDuration(timeoutMs), unchanged)) {
        m_bTimedOut = true;
        return;
    }
    if (!m_Gate.m_Socket.Valid())
        return;
    m_Socket = m_Gate.m_Socket.Get();
    m_generation = m_Gate.m_Generation;
    ++m_Gate.m_Users;
    m_bEntered = true;
}

CSocketGate::CUse::~CUse() { Leave(); }

void CSocketGate::CUse::Leave()
{
    if (!m_bEntered)
        return;
    m_bEntered = false;
    m_Socket = INVALID_NATIVE_SOCKET;
    std::lock_guard lock(m_Gate.m_Mutex);
    if (--m_Gate.m_Users == 0)
        m_Gate.m_Changed.notify_all();
}

void CSocketGate::RunExclusive(const std::function<void(Exclusive&)>& change)
{
    std::unique_lock lock(m_Mutex);
    m_Changed.wait(lock, [this] { return !m_bChanging; });
    m_bChanging = true;
    // Wake every user that waits on the socket; they leave without touching it again.
    m_Wake.Set();
    m_Changed.wait(lock, [this] { return m_Users == 0; });
    m_Wake.Reset();

    // The change (a blocking connect, for instance) runs without the mutex; m_bChanging
    // keeps users and other changes out meanwhile.
    Exclusive ex{m_Socket, m_Generation};
    lock.unlock();
    change(ex);
    lock.lock();

    m_bOpen = m_Socket.Valid();
    if (ex.changed) {
        ++m_Generation;
        m_bShutDown = false;
        m_ShutDownEvent.Reset();
    }
    m_bChanging = false;
    m_Changed.notify_all();
}

bool CSocketGate::IsOpen() const
{
    // m_Socket itself may be in the middle of a change (made without the mutex); m_bOpen is
    // the state after the last completed change.
    std::lock_guard lock(m_Mutex);
    return m_bOpen;
}

bool CSocketGate::WasShutDown(uint64_t generation) const
{
    std::lock_guard lock(m_Mutex);
    return m_bShutDown && generation == m_Generation;
}

void CSocketGate::MarkShutDown(uint64_t generation)
{
    std::lock_guard lock(m_Mutex);
    if (generation == m_Generation) {
        m_bShutDown = true;
        m_ShutDownEvent.Set();
    }
}

void CSocketGate::BeginAbort()
{
    std::lock_guard lock(m_Mutex);
    if (m_nAborts++ == 0)
        m_Abort.Set();
}

void CSocketGate::EndAbort()
{
    std::lock_guard lock(m_Mutex);
    if (--m_nAborts == 0)
        m_Abort.Reset();
}
