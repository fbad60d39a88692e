#include "win/CEndSessionGuard.h"

void CEndSessionGuard::SetWindow(HWND window)
{
    const bool busy = m_bBusy;
    SetBusy(false);
    m_hWnd = window;
    SetBusy(busy);
}

void CEndSessionGuard::SetBusy(bool busy)
{
    m_bBusy = busy;
    if (busy && !m_bReasonGiven && m_hWnd != nullptr)
        m_bReasonGiven = ShutdownBlockReasonCreate(m_hWnd, REASON) != FALSE;
    else if (!busy && m_bReasonGiven) {
        ShutdownBlockReasonDestroy(m_hWnd);
        m_bReasonGiven = false;
    }
}

BOOL CEndSessionGuard::OnQueryEndSession()
{
    if (!m_bBusy)
        return TRUE;
    SetBusy(true); // the reason, if giving it failed before
    return FALSE;
}
