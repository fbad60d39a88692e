#include "gui/CKivOneClickApp.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

#include "app/CKivOneClickDlg.h"
#include "app/TimeScaleRule.h"
#include "app/WindowCommandLine.h"
#include "gui/CMainWindow.h"
#include "gui/CQtLoginInhibitor.h"
#include "gui/CSingleInstanceGuard.h"
#include "gui/CStopSignalNotifier.h"
#include "gui/controls/CThemeHelperST.h"
#include "platform/UserFiles.h"

CKivOneClickApp::CKivOneClickApp() : m_pTheme(std::make_unique<CThemeHelperST>()) {}

CKivOneClickApp::~CKivOneClickApp() = default;

void CKivOneClickApp::ShowStartupWarning(const std::string& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void CKivOneClickApp::ReportUnguardedStart(const CSingleInstanceGuard& guard)
{
    const std::string why = guard.LockPath().isEmpty()
                                ? std::string("there is no usable temporary directory")
                                : DescribeOpenError(guard.LockPath().toStdString(), guard.ErrorCode());
    std::fprintf(stderr, "kivupgrade: the single-instance lock cannot be taken (%s); starting without it\n",
                 why.c_str());
}

bool CKivOneClickApp::ApplyOptions(CKivOneClickDlg& dlg) const
{
    std::string problems;
    std::string problem;
    const bool usable = ApplyWindowOptions(m_Options, dlg, problems, problem);
    if (!problems.empty())
        std::fprintf(stderr, "kivupgrade: %s\n", problems.c_str());
    if (!usable) {
        std::fprintf(stderr, "kivupgrade: --interface: %s\n", problem.c_str());
        ShowStartupWarning("--interface: " + problem);
    }
    return usable;
}

int CKivOneClickApp::InitInstance()
{
    CSingleInstanceGuard guard;
    switch (guard.Acquire()) {
    case CSingleInstanceGuard::Result::Failed:
        // Only another running copy keeps this one from starting; a lock file that cannot
        // be made or opened (a full disk, a file of another user) costs just the guard.
        ReportUnguardedStart(guard);
        break;
    case CSingleInstanceGuard::Result::AlreadyRunning:
        // The running copy restores its window if it is minimised; this one shows nothing.
        guard.NotifyRunningInstance();
        return 0;
    case CSingleInstanceGuard::Result::Acquired: break;
    }

    QCoreApplication::setOrganizationName(QString::fromLatin1(SETTINGS_STORE));
    if (const std::string notice = TimeScaleNotice(); !notice.empty())
        std::fprintf(stderr, "kivupgrade: %s\n", notice.c_str());

    int status = 0;
    {
        CQtLoginInhibitor inhibitor; // outlives the window, whose controller uses it
        CMainWindow window(m_pTheme.get());
        if (!ApplyOptions(window.Controller()))
            return 2;
        window.Controller().SetSleepInhibitor(&inhibitor);
        CStopSignalNotifier stops;
        QObject::connect(&stops, &CStopSignalNotifier::StopRequested, &window, &CMainWindow::OnStopSignal);
        QObject::connect(&guard, &CSingleInstanceGuard::RestoreRequested, &window, &CMainWindow::RestoreIfMinimized);
        window.InitDialog();
        window.exec();
        status = 0;
    }
    guard.Release();
    return status;
}
