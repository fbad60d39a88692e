#include "cli/CUpgradeCommand.h"

#include <cstdio>
#include <initializer_list>
#include <utility>
#include <vector>

#include "app/CKivOneClickDlg.h"
#include "app/CVersionCheck.h"
#include "cli/StopSignals.h"
#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "platform/CommandLine.h"
#include "platform/CoreWarning.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"
#include "wire/RouterAddress.h"

namespace {

constexpr uint32_t IDS_UPGRADE_IN_PROCESS = 140;

bool HasNotification(const CCliView& view, size_t from, std::initializer_list<int> codes)
{
    std::vector<int> seen = view.GetNotifications();
    for (size_t i = from; i < seen.size(); ++i) {
        for (int code : codes) {
            if (seen[i] == code)
                return true;
        }
    }
    return false;
}

std::string MismatchedTypes(const std::vector<CListModel::Row>& rows)
{
    std::string types;
    for (const CListModel::Row& row : rows) {
        if (row.colour == 0x0000FF) {
            if (!types.empty())
                types += ", ";
            types += row.texts[IComponentList::COL_TYPE];
        }
    }
    return types;
}

} // namespace

CUpgradeCommand::CUpgradeCommand(std::string command, const std::string& imagesDir, bool json,
                                 const RouterOverrides& overrides)
    : m_strCommand(std::move(command)), m_bImagesGiven(!imagesDir.empty()), m_bJson(json),
      m_Printer(m_View.GetListModel(), stderr, IsInteractiveTerminal(stderr))
{
    m_View.SetWarningSink([this](const std::string& text) { m_Printer.PrintWarning(text); });
    SetCoreWarningHandler([this](const std::string& text) { m_View.ShowWarning(text); });
    m_pDlg = std::make_unique<CKivOneClickDlg>(&m_View);
    m_View.SetController(m_pDlg.get());
    m_pDlg->SetRouterOverrides(overrides);
    if (m_bImagesGiven)
        m_pDlg->SetImageDirectory(imagesDir);
    m_pDlg->SetLoopTestPath(std::string()); // the command line runs once
    m_pDlg->SetSleepInhibitor(&m_Inhibitor);
    m_pDlg->GetSession().Log().SetFailureHandler(
        [this](const std::string& why) { m_Printer.PrintWarning("The download log cannot be written: " + why); });
}

CUpgradeCommand::~CUpgradeCommand()
{
    m_pDlg->GetSession().Log().SetFailureHandler({});
    m_pDlg.reset(); // joins whatever still runs
    SetCoreWarningHandler(nullptr);
}

int CUpgradeCommand::Execute()
{
    m_pDlg->OnInitDialog();
    std::fprintf(stderr, "Checking the router...\n");
    size_t mark = m_View.GetNotifications().size();
    m_pDlg->OnCheck();
    m_View.Pump(
        [&] {
            return HasNotification(m_View, mark, {NOTIFY_FOCUS_CHECK, NOTIFY_FOCUS_UPGRADE}) &&
                   !m_pDlg->IsWorkerRunning();
        },
        [this] { OnIdle(); });
    m_Report.m_bCheckPassed = m_pDlg->LastCheckPassed() && !m_bInterrupted;

    if (m_strCommand == "upgrade" && m_Report.m_bCheckPassed) {
        // Say which device is about to be written before anything is, and which images
        // go without a version check.
        std::fprintf(stderr, "%s\n", m_pDlg->RouterLine().c_str());
        for (const std::string& warning :
             CVersionCheck::UnreadVersionWarnings(m_pDlg->LastCheckRows(), m_pDlg->GetComponentTable()))
            m_Printer.PrintWarning(warning);
        std::fprintf(stderr, "Upgrading...\n");
        mark = m_View.GetNotifications().size();
        m_Printer.Start();
        m_pDlg->OnUpgrade();
        m_View.Pump([&] { return HasNotification(m_View, mark, {NOTIFY_UPGRADE_DONE}) && !m_pDlg->IsWorkerRunning(); },
                    [this] { OnIdle(); });
        m_Printer.Stop();
        m_Report.m_bUpgradeRan = true;
    }
    return Finish();
}

void CUpgradeCommand::OnIdle()
{
    if (TakeStopSignal() == 0)
        return;
    if (m_pDlg->IsUpgradeRunning()) {
        m_Printer.PrintWarning(LoadStringResource(IDS_UPGRADE_IN_PROCESS));
    } else if (m_pDlg->IsCheckRunning() && !m_bInterrupted) {
        m_bInterrupted = true;
        std::fprintf(stderr, "Interrupted: stopping the check...\n");
        m_pDlg->RequestStop();
    }
}

int CUpgradeCommand::Finish()
{
    CUpgradeEngine& engine = m_pDlg->GetEngine();
    CRouterSession& session = m_pDlg->GetSession();
    m_Report.m_strCommand = m_strCommand;
    m_Report.m_Rows = m_View.GetListModel().Snapshot();
    m_Report.m_bInterrupted = m_bInterrupted;
    m_Report.m_Warnings = m_View.GetWarnings();
    m_Report.m_strHint = m_View.GetHint();
    m_Report.m_RejectedImages = m_pDlg->GetRejectedImages();
    m_Report.m_CheckRows = m_pDlg->LastCheckRows();
    m_Report.m_strUpToDate = CVersionCheck::UpToDateSummary(m_Report.m_CheckRows, m_pDlg->GetComponentTable());
    m_Report.m_VersionWarnings =
        CVersionCheck::UnreadVersionWarnings(m_Report.m_CheckRows, m_pDlg->GetComponentTable());
    if (session.HasRouter()) {
        m_Report.m_strRouterIp = session.GetRouterIpText();
        m_Report.m_strRouterMac = session.GetRouterMacText();
    }
    m_Report.m_nExitCode = DecideResult(engine);

    session.Log().Flush();
    m_Report.m_strLogPath = session.Log().GetPath();
    m_Report.m_strLogError = session.Log().GetWriteError();
    m_Report.m_bImagesEmbedded = m_pDlg->HasEmbeddedImages() && !m_bImagesGiven;
    const ImageSearchResult search = m_pDlg->LastImageSearch();
    m_Report.m_ImageDirsSearched = search.searched;
    m_Report.m_strImageDir = search.used;
    if (m_bJson) {
        std::printf("%s\n", m_Report.FormatJson().c_str());
    } else {
        std::printf("%s", m_Report.FormatTable().c_str());
        std::printf("%s", m_Report.FormatSummary().c_str());
        std::printf("%s\n", m_Report.m_nExitCode == 0
                                ? "Result: success"
                                : MakePrintable("Result: failure: " + m_Report.m_strReason).c_str());
        std::printf("%s", m_Report.FormatHint().c_str());
    }
    std::fflush(stdout);
    if (!m_bJson && m_Report.m_nExitCode != 0)
        std::fprintf(stderr, "%s\n", MakePrintable(m_Report.m_strReason).c_str());
    std::FILE* logOut = m_bJson ? stderr : stdout;
    if (const std::string images = m_Report.FormatImageSource(); !images.empty())
        std::fprintf(logOut, "%s\n", MakePrintable(images).c_str());
    PrintLogPlace();
    return m_Report.m_nExitCode;
}

void CUpgradeCommand::PrintLogPlace() const
{
    std::FILE* logOut = m_bJson ? stderr : stdout;
    std::fprintf(logOut, "Download log: %s\n",
                 m_Report.m_strLogPath.empty() ? "(not written)" : MakePrintable(m_Report.m_strLogPath).c_str());
    std::fflush(logOut);
    if (!m_Report.m_strLogError.empty())
        std::fprintf(stderr, "The download log cannot be written: %s\n", MakePrintable(m_Report.m_strLogError).c_str());
}

int CUpgradeCommand::DecideResult(CUpgradeEngine& engine)
{
    if (m_bInterrupted) {
        m_Report.m_strReason = "The check was interrupted.";
        return 1;
    }
    if (!m_Report.m_bCheckPassed) {
        std::string mismatched = MismatchedTypes(m_Report.m_Rows);
        if (const std::string damaged = m_Report.DamagedImages(); !damaged.empty())
            m_Report.m_strReason = "Image damaged: " + damaged + ".";
        else if (!mismatched.empty())
            m_Report.m_strReason = "Version does not match: " + mismatched + ".";
        else if (const std::string* warning = LastCheckWarning())
            m_Report.m_strReason = "The check failed: " + *warning;
        else
            m_Report.m_strReason = "The check failed.";
        return 1;
    }
    if (!m_Report.m_bUpgradeRan)
        return 0;
    UpgradeRunOutcome outcome = engine.GetRunOutcome();
    std::string failedRows = MismatchedTypes(m_Report.m_Rows);
    if (outcome.bFailed || !failedRows.empty()) {
        m_Report.m_bUpgradeFailed = true;
        m_Report.m_strUpgradeResult = outcome.strResultText;
        if (failedRows.empty() && !outcome.strFailureText.empty()) {
            // No row shows it: the engine's text says what failed and what had been written.
            m_Report.m_strReason = "The upgrade failed: " + outcome.strFailureText;
            return 1;
        }
        m_Report.m_strReason = "The upgrade failed: " +
                               (outcome.strResultText.empty() ? std::string("a step failed") : outcome.strResultText) +
                               (failedRows.empty() ? std::string(".") : " (" + failedRows + ").");
        return 1;
    }
    return 0;
}

const std::string* CUpgradeCommand::LastCheckWarning() const
{
    return m_Report.m_Warnings.empty() ? nullptr : &m_Report.m_Warnings.back();
}
