#include "win/CKivOneClickApp.h"

#include <commctrl.h>

#include <cstdio>

#include "app/CKivOneClickDlg.h"
#include "app/CSystemAwakeInhibitor.h"
#include "app/SocketStartup.h"
#include "app/TimeScaleRule.h"
#include "net/Socket.h"
#include "platform/SystemError.h"
#include "platform/WideText.h"
#include "win/CMainDialog.h"
#include "win/CSingleInstance.h"
#include "win/controls/CThemeHelperST.h"

void CKivOneClickApp::ShowStartupWarning(const std::string& text)
{
    MessageBoxW(nullptr, WideFromUtf8(text).c_str(), L"Warning", MB_OK | MB_ICONWARNING);
}

int CKivOneClickApp::InitInstance(HINSTANCE module)
{
    if (!CSingleInstance::RegisterDialogClass(module)) {
        ShowStartupWarning(SystemErrorText(GetLastError()));
        return 1;
    }
    CSingleInstance instance;
    switch (instance.Acquire()) {
    case CSingleInstance::Result::Failed: ShowStartupWarning(SystemErrorText(instance.Error())); return 1;
    case CSingleInstance::Result::AlreadyRunning:
        // The running copy comes forward; this one shows nothing.
        CSingleInstance::ActivateRunningInstance();
        return 0;
    case CSingleInstance::Result::Acquired: break;
    }

    CSocketLibrary sockets;
    if (const std::string problem = SocketLibraryProblem(sockets); !problem.empty()) {
        ShowStartupWarning(problem);
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    if (const std::string notice = TimeScaleNotice(); !notice.empty())
        std::fprintf(stderr, "kivupgrade: %s\n", notice.c_str());

    CSystemAwakeInhibitor awake; // outlives the dialog, whose controller uses it
    CThemeHelperST theme;
    CMainDialog dialog(&theme);
    std::string notes;
    std::string problem;
    const bool usable = ApplyWindowOptions(m_Options, dialog.Controller(), notes, problem);
    if (!notes.empty())
        std::fprintf(stderr, "kivupgrade: %s\n", notes.c_str());
    if (!usable) {
        std::fprintf(stderr, "kivupgrade: --interface: %s\n", problem.c_str());
        ShowStartupWarning("--interface: " + problem);
        return 2;
    }
    dialog.Controller().SetSleepInhibitor(&awake);
    dialog.DoModal(module);
    return 0;
}
