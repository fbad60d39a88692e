#pragma once

#include <cstdint>
#include <mutex>

#include "platform/Clock.h"
#include "platform/NonCopyable.h"

// Recursive lock, like the critical section it stands in for: the owning thread may lock
// it again. Lock accepts a time-out argument and ignores it.
class CCriticalSection : public NonCopyable {
public:
    bool Lock(uint32_t ignoredTimeout = INFINITE)
    {
        (void)ignoredTimeout;
        m_Mutex.lock();
        return true;
    }
    bool Unlock()
    {
        m_Mutex.unlock();
        return true;
    }

private:
    std::recursive_mutex m_Mutex;
};

// Scoped lock: locks at construction when asked to, unlocks when it leaves the scope.
class CSingleLock {
public:
    explicit CSingleLock(CCriticalSection* lock, bool initialLock = false) : m_pLock(lock)
    {
        if (initialLock)
            Lock();
    }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    bool Lock()
    {
        if (m_pLock != nullptr && !m_bLocked)
            m_bLocked = m_pLock->Lock();
        return m_bLocked;
    }
    bool Unlock()
    {
        if (m_pLock != nullptr && m_bLocked) {
            m_pLock->Unlock();
            m_bLocked = false;
        }
        return true;
    }
    bool IsLocked() const { return m_bLocked; }

private:
    CCriticalSection* m_pLock;
    bool m_bLocked = false;
};
