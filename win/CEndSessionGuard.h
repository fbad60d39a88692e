#pragma once

#include <windows.h>

// Keeps a log-off or a shutdown from cutting a firmware write short. While the window's
// upgrade runs, the window tells Windows why it must not end ("Writing router firmware",
// shown on the shutdown screen) and refuses to let the session end. (Sleep is held off by
// the controller's sleep inhibitor, on the upgrade worker, as in the command line.) Dialog
// thread only.
class CEndSessionGuard {
public:
    static constexpr const wchar_t* REASON = L"Writing router firmware";

    explicit CEndSessionGuard(HWND window = nullptr) : m_hWnd(window) {}
    ~CEndSessionGuard() { SetBusy(false); }
    CEndSessionGuard(const CEndSessionGuard&) = delete;
    CEndSessionGuard& operator=(const CEndSessionGuard&) = delete;

    void SetWindow(HWND window);
    // An upgrade started (true) or ended (false): gives or withdraws the reason.
    void SetBusy(bool busy);
    bool IsBusy() const { return m_bBusy; }

    // The answer to WM_QUERYENDSESSION: FALSE (the session must not end) while busy.
    BOOL OnQueryEndSession();

private:
    HWND m_hWnd;
    bool m_bBusy = false;
    bool m_bReasonGiven = false;
};
