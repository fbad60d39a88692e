#pragma once

#include <memory>
#include <string>

class CKivOneClickDlg;
class CThemeHelperST;

// The application object: one copy at a time, the settings store named "Varoni", the main
// window run until it closes.
class CKivOneClickApp {
public:
    static constexpr const char* kSettingsStore = "Varoni";

    CKivOneClickApp();
    ~CKivOneClickApp();
    CKivOneClickApp(const CKivOneClickApp&) = delete;
    CKivOneClickApp& operator=(const CKivOneClickApp&) = delete;

    // The start sequence. Returns the process exit status: 0 after the window closed or
    // when another copy runs, 2 when --interface (or KIV_INTERFACE) names no usable
    // interface, 1 when start-up failed.
    int InitInstance();

    // Warning box without an owner: caption "Warning", warning icon, OK.
    static void ShowStartupWarning(const std::string& text);

private:
    // Ties the window's sockets to the interface named on the command line or by
    // KIV_INTERFACE; false (after a warning that lists the interfaces) when it cannot.
    static bool ApplyInterfaceArgument(CKivOneClickDlg& dlg);

    std::unique_ptr<CThemeHelperST> m_pTheme;
};
