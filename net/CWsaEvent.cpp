#include "net/CWsaEvent.h"

CWsaEvent::CWsaEvent() = default;

CWsaEvent::~CWsaEvent() = default;

bool CWsaEvent::IsValid() const { return m_Event.Handle() >= 0; }

CWsaEvent::NativeHandle CWsaEvent::Handle() const { return m_Event.Handle(); }

bool CWsaEvent::Set() { return m_Event.Set(); }

bool CWsaEvent::Reset() { return m_Event.Reset(); }

bool CWsaEvent::IsSet() const { return m_Event.IsSet(); }

bool CWsaEvent::Wait(uint32_t ms) const { return m_Event.Wait(ms); }
