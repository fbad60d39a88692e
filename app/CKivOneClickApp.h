#pragma once

#include <memory>
#include <string>

class CSingleInstanceGuard;
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
    // when another copy runs.
    int InitInstance();

private:
    // Standard error: the lock could not be taken for another reason than a running copy.
    static void ReportUnguardedStart(const CSingleInstanceGuard& guard);

    std::unique_ptr<CThemeHelperST> m_pTheme;
};
