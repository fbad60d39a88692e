#include "app/CSystemAwakeInhibitor.h"

#include "platform/SystemAwake.h"

CSystemAwakeInhibitor::~CSystemAwakeInhibitor() { Release(); }

bool CSystemAwakeInhibitor::Acquire(std::string& why)
{
    m_bHeld = KeepSystemAwake(why);
    return m_bHeld;
}

void CSystemAwakeInhibitor::Release()
{
    if (m_bHeld)
        AllowSystemSleep();
    m_bHeld = false;
}
