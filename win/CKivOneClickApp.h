#pragma once

#include <windows.h>

#include <string>

#include "app/WindowCommandLine.h"

// The application object of the Windows program: one copy at a time (the named mutex; a
// later copy brings the first one's window forward and ends), the sockets library (version
// 2.2), the common controls, then the main dialog run until it closes.
class CKivOneClickApp {
public:
    CKivOneClickApp() = default;
    CKivOneClickApp(const CKivOneClickApp&) = delete;
    CKivOneClickApp& operator=(const CKivOneClickApp&) = delete;

    // The command line's options (ParseWindowCommandLine), before InitInstance.
    void SetOptions(const WindowOptions& options) { m_Options = options; }

    // The start sequence. Returns the process exit status: 0 after the dialog closed (also
    // when the session ended) or when another copy runs, 1 when the program cannot start,
    // 2 when --interface (or KIV_INTERFACE) names no usable interface.
    int InitInstance(HINSTANCE module);

    // Warning box without an owner: caption "Warning", warning icon, OK.
    static void ShowStartupWarning(const std::string& text);

private:
    WindowOptions m_Options;
};
