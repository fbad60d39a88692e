#pragma once

#include <memory>
#include <string>

#include "app/RouterOverrides.h"
#include "cli/CCliReport.h"
#include "cli/CCliView.h"
#include "cli/CProgressPrinter.h"
#include "platform/NonCopyable.h"
#ifdef _WIN32
#include "app/CSystemAwakeInhibitor.h"
#else
#include "cli/CLoginInhibitor.h"
#endif

class CKivOneClickDlg;
class CUpgradeEngine;

// What holds off sleep while an upgrade runs.
#ifdef _WIN32
using CSleepInhibitor = CSystemAwakeInhibitor; // the upgrade worker's thread execution state
#else
using CSleepInhibitor = CLoginInhibitor; // the login manager's lock over sd-bus
#endif

// "kivupgrade-cli check" and "kivupgrade-cli upgrade": the window's controller driven
// through the command line's view. Finds the router and checks every component; "upgrade"
// then writes every image the check accepted. Prints the report (a table, or one JSON
// document) and where the download log is. A stop signal ends a check; an upgrade goes on
// to its end and says so.
class CUpgradeCommand : public NonCopyable {
public:
    // `command` is "check" or "upgrade"; with `imagesDir` empty the images are looked for
    // where the window looks for them.
    CUpgradeCommand(std::string command, const std::string& imagesDir, bool json, const RouterOverrides& overrides);
    ~CUpgradeCommand();

    // Runs the command to its end and prints its report; the exit code.
    int Execute();

private:
    void OnIdle();
    int Finish();
    // Where the download log is; a log that could not be written says why on standard error.
    void PrintLogPlace() const;
    int DecideResult(CUpgradeEngine& engine);
    // The last warning of the check, which says why it failed; null when there is none.
    const std::string* LastCheckWarning() const;

    std::string m_strCommand;
    bool m_bImagesGiven;
    bool m_bJson;
    CSleepInhibitor m_Inhibitor; // outlives the controller, which uses it
    CCliView m_View;
    CProgressPrinter m_Printer;
    std::unique_ptr<CKivOneClickDlg> m_pDlg;
    CCliReport m_Report;
    bool m_bInterrupted = false;
};
