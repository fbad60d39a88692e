#include "net/CWsaEvent.h"

#include <winsock2.h>

#include "platform/CDeadline.h"

CWsaEvent::CWsaEvent() : m_hEvent(WSACreateEvent())
{
    if (m_hEvent == WSA_INVALID_EVENT)
        m_hEvent = nullptr;
}

CWsaEvent::~CWsaEvent()
{
    if (m_hEvent != nullptr)
        WSACloseEvent(m_hEvent);
}

bool CWsaEvent::IsValid() const { return m_hEvent != nullptr; }

CWsaEvent::NativeHandle CWsaEvent::Handle() const { return m_hEvent; }

bool CWsaEvent::Set() { return m_hEvent != nullptr && WSASetEvent(m_hEvent) != FALSE; }

bool CWsaEvent::Reset() { return m_hEvent != nullptr && WSAResetEvent(m_hEvent) != FALSE; }

bool CWsaEvent::IsSet() const { return Wait(0); }

bool CWsaEvent::Wait(uint32_t ms) const
{
    if (m_hEvent == nullptr)
        return false;
    const int real = CDeadline(ms).RealWaitMs();
    const DWORD timeout = real < 0 ? WSA_INFINITE : static_cast<DWORD>(real);
    return WSAWaitForMultipleEvents(1, &m_hEvent, FALSE, timeout, FALSE) == WSA_WAIT_EVENT_0;
}
