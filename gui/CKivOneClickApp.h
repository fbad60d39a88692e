#pragma once

#include <memory>
#include <string>

#include "app/WindowCommandLine.h"

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

    // The command line's options (ParseWindowCommandLine), before InitInstance.
    void SetOptions(const WindowOptions& options) { m_Options = options; }

    // The start sequence. Returns the process exit status: 0 after the window closed (also
    // by a stop signal) or when another copy runs, 2 when --interface (or KIV_INTERFACE)
    // names no usable interface.
    int InitInstance();

    // Warning box without an owner: caption "Warning", warning icon, OK.
    static void ShowStartupWarning(const std::string& text);

private:
    // Standard error: the lock could not be taken for another reason than a running copy.
    static void ReportUnguardedStart(const CSingleInstanceGuard& guard);
    // The router overrides of the environment and the options, the image directory, and
    // the interface every socket is tied to; false (after a warning that lists the
    // interfaces) when the interface cannot be used.
    bool ApplyOptions(CKivOneClickDlg& dlg) const;

    std::unique_ptr<CThemeHelperST> m_pTheme;
    WindowOptions m_Options;
};
