#pragma once

#include <windows.h>

#include <string>

// The application object of the Windows program: one copy at a time (the named mutex; a
// later copy brings the first one's window forward and ends), the sockets library (version
// 2.2), the common controls, then the main dialog run until it closes.
class CKivOneClickApp {
public:
    CKivOneClickApp() = default;
    CKivOneClickApp(const CKivOneClickApp&) = delete;
    CKivOneClickApp& operator=(const CKivOneClickApp&) = delete;

    // The start sequence. Returns the process exit status: 0 after the dialog closed or when
    // another copy runs, 1 when the program cannot start.
    int InitInstance(HINSTANCE module);

    // Warning box without an owner: caption "Warning", warning icon, OK.
    static void ShowStartupWarning(const std::string& text);
};
