#pragma once

#include <memory>
#include <string>

class CKivOneClickDlg;
class CSingleInstanceGuard;
class CThemeHelperST;

// The application object: one copy at a time, the settings store named "Varoni", the main
// window run until it closes.
class CKivOneClickApp {
public:
    static constexpr const char* SETTINGS_STORE = "Varoni";

    CKivOneClickApp();
    ~CKivOneClickApp();
    CKivOneClickApp(const CKivOneClickApp&) = delete;
    CKivOneClickApp& operator=(const CKivOneClickApp&) = delete;

    // The start sequence. Returns the process exit status: 0 after the window closed or
    // when another copy runs, 2 when --interface (or KIV_INTERFACE) names no usable
    // interface.
    int InitInstance();

    // Warning box without an owner: caption "Warning", warning icon, OK.
    static void ShowStartupWarning(const std::string& text);

private:
    // Standard error: the lock could not be taken for another reason than a running copy.
    static void ReportUnguardedStart(const CSingleInstanceGuard& guard);
    // Ties the window's sockets to the interface named on the command line or by
    // KIV_INTERFACE; false (after a warning that lists the interfaces) when it cannot.
    static bool ApplyInterfaceArgument(CKivOneClickDlg& dlg);

    std::unique_ptr<CThemeHelperST> m_pTheme;
};
