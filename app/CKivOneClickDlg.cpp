#include "app/CKivOneClickDlg.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app/CVersionCheck.h"
#include "app/ISleepInhibitor.h"
#include "app/ImageHeaderProbe.h"
#include "app/ImageSearchPath.h"
#include "app/TimeScaleRule.h"
#include "engine/CRouterSession.h"
#include "engine/CUpgradeEngine.h"
#include "engine/ComponentEntry.h"
#include "log/CDownloadLog.h"
#include "net/CTelnetClient.h"
#include "platform/TextCodec.h"
#include "platform/Utf8Path.h"
#include "res/Resources.h"

namespace {

constexpr uint32_t IDS_TWO_BIN_FILES = 134;
constexpr uint32_t IDS_NO_BIN_FILE = 135;
constexpr uint32_t IDS_UPGRADE_IN_PROCESS = 140;
constexpr uint32_t IDS_ARE_YOU_SURE = 156;

constexpr uint32_t LOOP_UPGRADE_DELAY_MS = 2000;
constexpr uint32_t LOOP_CHECK_DELAY_MS = 35000;

bool HasBinExtension(const std::filesystem::path& path)
{
    std::string ext = Utf8FromPath(path.extension());
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".bin";
}

} // namespace

const KivColumnSpec CKivOneClickDlg::COLUMNS[5] = {
    {141, true, 16},  // "Type"
    {143, true, 15},  // "Current Version"
    {144, true, 15},  // "Upgrade Version"
    {146, true, 4},   // "%"
    {145, false, 20}, // "Status"
};

CKivOneClickDlg::CKivOneClickDlg(IKivView* view, ComponentEntry* table)
    : m_pView(view), m_pTable(table ? table : ::GetComponentTable()), m_pTelnet(std::make_unique<CTelnetClient>()),
      m_pSession(std::make_unique<CRouterSession>()), m_pEngine(std::make_unique<CUpgradeEngine>(*m_pSession, m_pTable))
{
    std::string problems;
    m_Overrides = LoadRouterOverrides(&problems);
    m_pEngine->SetList(m_pView->GetList());
    m_pSession->SetPorts(m_Overrides.routerPort, m_Overrides.telnetPort);
    m_pSession->SetInterface(m_Overrides.interfaceName);
    m_pEngine->SetNotify([this](int code) { m_pView->PostNotify(code); });
    if (!problems.empty())
        LogPrintf(m_pSession->Log(), "%s", problems.c_str());
    LogTimeScale();
}

void CKivOneClickDlg::LogTimeScale()
{
    const std::string notice = TimeScaleNotice();
    if (!notice.empty())
        LogPrintf(m_pSession->Log(), "%s", notice.c_str());
}

CKivOneClickDlg::~CKivOneClickDlg()
{
    m_bStopRequested = true;
    m_StopEvent.Set();
    StopLoopTimer();
    if (m_Worker.joinable())
        m_Worker.join();
    // The engine goes before the session it uses, and both before the Telnet client (members
    // in reverse order).
    m_pEngine.reset();
    m_pSession.reset();
    m_pTelnet.reset();
}

void CKivOneClickDlg::SetRouterOverrides(const RouterOverrides& overrides)
{
    m_Overrides = overrides;
    m_pSession->SetPorts(overrides.routerPort, overrides.telnetPort);
    m_pSession->SetInterface(overrides.interfaceName);
}

void CKivOneClickDlg::SetImageDirectory(const std::string& dir)
{
    // Shown and logged as the system writes paths ("C:\\Images\\" for "C:/Images" on Windows).
    m_strImageDir = WithTrailingSeparator(Utf8FromPath(PathFromUtf8(dir).make_preferred()));
    m_bIgnoreEmbedded = true;
}

void CKivOneClickDlg::SetLoopTestPath(const std::string& path) { m_strLoopTestPath = path; }

std::vector<std::string> CKivOneClickDlg::ImageDirectories() const
{
    if (!m_strImageDir.empty())
        return {m_strImageDir};
    return ImageSearchDirectories(ProgramDirectory());
}

// ---- handlers ------------------------------------------------------------------------------

bool CKivOneClickDlg::OnInitDialog()
{
    m_pView->Relayout();
    for (int i = 0; i < COMPONENT_COUNT; ++i)
        m_pTable[i].m_TypeName = LoadStringResource(COMPONENT_TYPE_NAME_IDS[i]);
    m_bEmbeddedImages = false;
    if (!m_bIgnoreEmbedded) {
        for (int i = 0; i < COMPONENT_COUNT; ++i) {
            const uint32_t id = COMPONENT_RESOURCE_IDS[i];
            m_pTable[i].m_ImageProblem.clear();
            // Resources of a single byte stand for "no image" and are not carried at all.
            if (!LoadResourceBytes(id, "BINARY"))
                continue;
            CBinFile& image = m_pTable[i].m_Image;
            std::string reason = image.OpenResource(id) ? image.GetUnusableReason() : image.GetFailure();
            // A damaged image the program carries fails the check in its row: the program
            // still carries images, so none are looked for beside it.
            m_bEmbeddedImages = true;
            if (!reason.empty()) {
                image.Close();
                RejectDamagedImage(m_RejectedEmbedded, "embedded image " + std::to_string(id), i, reason);
            }
        }
    }
    std::error_code noFile;
    m_bLoopTest = !m_strLoopTestPath.empty() && std::filesystem::exists(PathFromUtf8(m_strLoopTestPath), noFile);
    return true;
}

void CKivOneClickDlg::OnCheck()
{
    if (IsWorkerRunning() || m_bClosePending)
        return; // one worker at a time
    JoinWorker();
    m_pView->EnableButton(IKivView::IDC_CHECK, false);
    m_pView->EnableButton(IKivView::IDC_UPGRADE, false);
    m_bStopRequested = false;
    m_StopEvent.Reset();
    m_bCheckRunning = true;
    m_Worker = std::thread(&CKivOneClickDlg::CheckWorker, this);
}

void CKivOneClickDlg::OnUpgrade()
{
    if (IsWorkerRunning() || m_bClosePending)
        return; // one worker at a time
    JoinWorker();
    m_pView->EnableButton(IKivView::IDC_CHECK, false);
    m_pView->EnableButton(IKivView::IDC_UPGRADE, false);
    m_bUpgradeRunning = true;
    m_Worker = std::thread(&CKivOneClickDlg::UpgradeWorker, this);
}

int CKivOneClickDlg::OnWorkerNotify(int code)
{
    switch (code) {
    case NOTIFY_UPGRADE_DONE: {
        bool ended = m_bUpgradeRunning.load();
        if (ended) {
            // The engine posts this as its very last act: the join is immediate.
            JoinWorker();
            m_bUpgradeRunning = false;
            ShowReadBackVersions();
        }
        m_pView->EnableButton(IKivView::IDC_CHECK, true);
        m_pView->FocusButton(IKivView::IDC_CHECK);
        if (m_bLoopTest && !m_bClosePending && !m_bEndAfterUpgrade)
            StartLoopTimer(0);
        if (ended) {
            // A run that ended before any row changed still tells the user why.
            UpgradeRunOutcome outcome = m_pEngine->GetRunOutcome();
            std::string historyError;
            {
                std::lock_guard<std::mutex> lock(m_OutcomeMutex);
                m_bUpgradeFailedSilently = outcome.bFailed && !outcome.bShownInRow;
                m_strUpgradeFailureText = m_bUpgradeFailedSilently ? outcome.strFailureText : std::string();
                historyError = m_strHistoryError;
            }
            if (m_bEndAfterUpgrade) {
                // A stop signal waited for this: nobody is left to read a box.
                m_pView->EndDialog(IKivView::ID_CANCEL);
                break;
            }
            if (outcome.bFailed && !outcome.bShownInRow)
                m_pView->ShowWarning(outcome.strFailureText);
            if (!historyError.empty())
                m_pView->ShowWarning("The upgrade history cannot be written: " + historyError);
        }
        break;
    }
    case NOTIFY_DISABLE_BUTTONS:
        m_pView->EnableButton(IKivView::IDC_CHECK, false);
        m_pView->EnableButton(IKivView::IDC_UPGRADE, false);
        break;
    case NOTIFY_START_CHECK: OnCheck(); break;
    case NOTIFY_START_UPGRADE: OnUpgrade(); break;
    case NOTIFY_FOCUS_CHECK:
    case NOTIFY_FOCUS_UPGRADE:
        if (!IsCheckRunning())
            JoinWorker();
        if (m_bClosePending) {
            if (!IsWorkerRunning()) {
                StopLoopTimer();
                m_pView->EndDialog(IKivView::ID_CANCEL);
            }
            break;
        }
        m_pView->FocusButton(code == NOTIFY_FOCUS_CHECK ? IKivView::IDC_CHECK : IKivView::IDC_UPGRADE);
        // The loop test goes on with the upgrade 2 s after a successful check.
        if (code == NOTIFY_FOCUS_UPGRADE && m_bLoopTest)
            StartLoopTimer(1);
        break;
    default: break; // nothing visible
    }
    return 0;
}

bool CKivOneClickDlg::OnCancel()
{
    if (m_bUpgradeRunning || m_pEngine->IsUpgrading()) {
        ShowWarning(IDS_UPGRADE_IN_PROCESS);
        return false;
    }
    if (m_bClosePending)
        return true;
    if (!m_pView->AskYesNo(LoadStringResource(IDS_ARE_YOU_SURE)))
        return false;
    if (m_bUpgradeRunning)
        return false; // an upgrade started while the question was open
    if (IsCheckRunning()) {
        // Ends when the check's end notification arrives.
        m_bClosePending = true;
        StopLoopTimer();
        return true;
    }
    StopLoopTimer();
    m_pView->EndDialog(IKivView::ID_CANCEL);
    return true;
}

void CKivOneClickDlg::OnStopSignal(const std::string& name)
{
    CDownloadLog& log = m_pSession->Log();
    StopLoopTimer();
    if (m_bUpgradeRunning) {
        LogPrintf(log, "%s received: the upgrade goes on to its end, then the program ends", name.c_str());
        m_bEndAfterUpgrade = true;
        return;
    }
    if (IsCheckRunning()) {
        LogPrintf(log, "%s received: stopping the check, then the program ends", name.c_str());
        m_bClosePending = true;
        RequestStop();
        return;
    }
    LogPrintf(log, "%s received: the program ends", name.c_str());
    m_bClosePending = true;
    m_pView->EndDialog(IKivView::ID_CANCEL);
}

// ---- services ------------------------------------------------------------------------------

int CKivOneClickDlg::ShowWarning(uint32_t stringId) { return m_pView->ShowWarning(LoadStringResource(stringId)); }

int CKivOneClickDlg::ShowWarning(uint32_t stringId, const std::string& hint)
{
    return m_pView->ShowWarningWithHint(LoadStringResource(stringId), hint);
}

void CKivOneClickDlg::RequestStop()
{
    m_bStopRequested = true;
    m_StopEvent.Set();
}

bool CKivOneClickDlg::LastUpgradeFailedSilently() const
{
    std::lock_guard<std::mutex> lock(m_OutcomeMutex);
    return m_bUpgradeFailedSilently;
}

std::string CKivOneClickDlg::LastUpgradeFailureText() const
{
    std::lock_guard<std::mutex> lock(m_OutcomeMutex);
    return m_strUpgradeFailureText;
}

ImageSearchResult CKivOneClickDlg::LastImageSearch() const
{
    std::lock_guard<std::mutex> lock(m_OutcomeMutex);
    return m_LastSearch;
}

void CKivOneClickDlg::RejectForeignFile(const std::string& file, const std::string& reason)
{
    RejectedImage rejected{MakePrintable(file), MakePrintable(reason)};
    {
        std::lock_guard<std::mutex> lock(m_RejectedMutex);
        m_RejectedFiles.push_back(rejected);
    }
    // Named once per run of the program: a file that some other package put beside the
    // program must not raise a note on every check.
    if (!m_ReportedForeign.insert(rejected.name + ": " + rejected.reason).second)
        return;
    LogPrintf(m_pSession->Log(), "Not an upgrade image, not used: %s: %s", rejected.name.c_str(),
              rejected.reason.c_str());
    m_pView->ShowNotice("This file is not an upgrade image and is not used: " + rejected.name + ": " + rejected.reason);
}

bool CKivOneClickDlg::RejectDamagedImage(std::vector<RejectedImage>& list, const std::string& name, int component,
                                         const std::string& reason)
{
    ComponentEntry& entry = m_pTable[component];
    if (entry.m_Image.IsValid() || !entry.m_ImageProblem.empty())
        return false;
    RejectedImage rejected{MakePrintable(name), MakePrintable(reason), component};
    entry.m_ImageProblem = rejected.reason;
    LogPrintf(m_pSession->Log(), "Image damaged: %s: %s", rejected.name.c_str(), rejected.reason.c_str());
    std::lock_guard<std::mutex> lock(m_RejectedMutex);
    list.push_back(std::move(rejected));
    return true;
}

std::vector<RejectedImage> CKivOneClickDlg::GetRejectedImages() const
{
    std::lock_guard<std::mutex> lock(m_RejectedMutex);
    std::vector<RejectedImage> all = m_RejectedEmbedded;
    all.insert(all.end(), m_RejectedFiles.begin(), m_RejectedFiles.end());
    return all;
}

std::vector<CheckRow> CKivOneClickDlg::LastCheckRows() const
{
    std::lock_guard<std::mutex> lock(m_OutcomeMutex);
    return m_LastRows;
}

std::string CKivOneClickDlg::RouterLine() const
{
    {
        std::lock_guard<std::mutex> lock(m_OutcomeMutex);
        if (!m_bRouterFound)
            return std::string();
    }
    return "Router " + m_pSession->GetRouterIpText() + ", MAC " + m_pSession->GetRouterMacText();
}

std::string CKivOneClickDlg::CheckSummary() const
{
    std::string summary;
    if (const std::string router = RouterLine(); !router.empty())
        summary += router + "\n";
    if (const std::string upToDate = CVersionCheck::UpToDateSummary(LastCheckRows(), m_pTable); !upToDate.empty())
        summary += upToDate + "\n";
    return summary;
}

std::string CKivOneClickDlg::LastHistoryError() const
{
    std::lock_guard<std::mutex> lock(m_OutcomeMutex);
    return m_strHistoryError;
}

bool CKivOneClickDlg::FindImageFiles()
{
    {
        std::lock_guard<std::mutex> lock(m_RejectedMutex);
        m_RejectedFiles.clear();
    }
    for (int i = 0; i < COMPONENT_COUNT; ++i) {
        m_pTable[i].m_Image.Close();
        m_pTable[i].m_Image.SetPath(std::string());
        m_pTable[i].m_ImageProblem.clear();
    }

    ImageSearchResult search;
    bool loaded = true; // false only after two files of one type
    for (const std::string& dir : ImageDirectories()) {
        search.searched.push_back(dir);
        int counted = 0;
        loaded = LoadImagesFrom(dir, counted);
        if (!loaded || counted > 0) {
            search.used = dir;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_OutcomeMutex);
        m_LastSearch = search;
    }
    if (!loaded)
        return false; // two files of one type: warning 134 was shown
    if (!search.used.empty()) {
        LogPrintf(m_pSession->Log(), "Images from %s", search.used.c_str());
        return true;
    }
    std::string searched;
    for (const std::string& dir : search.searched)
        searched += (searched.empty() ? "" : ", ") + dir;
    ShowWarning(IDS_NO_BIN_FILE);
    LogPrintf(m_pSession->Log(), "没有找到至少一个有效的BIN文件");
    LogPrintf(m_pSession->Log(), "Searched for *.bin images in: %s", searched.c_str());
    return false;
}

// Opens every "*.bin" file of `dir` into the entry of its type and counts them; a damaged
// image counts too (it fails the check in its row), a file that is not an image of ours is
// named and passed over. False, after warning 134, when two files have the same type.
bool CKivOneClickDlg::LoadImagesFrom(const std::string& dir, int& counted)
{
    // Files in name order, so that "the first one found" is the same on every run.
    std::vector<std::string> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(PathFromUtf8(dir), ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) && HasBinExtension(it->path()))
            files.push_back(Utf8FromPath(std::filesystem::path(it->path()).make_preferred()));
    }
    std::sort(files.begin(), files.end());

    for (const std::string& file : files) {
        uint32_t type = COMPONENT_NONE;
        std::string reason;
        {
            CBinFile probe;
            probe.SetPath(file);
            const bool valid = probe.Open(COMPONENT_NONE);
            type = valid ? probe.GetType() : ImageTypeNamedByHeaders(file);
            reason = valid ? probe.GetUnusableReason() : probe.GetFailure();
        }
        if (type >= static_cast<uint32_t>(COMPONENT_COUNT)) {
            RejectForeignFile(file, reason);
            continue;
        }
        ComponentEntry& entry = m_pTable[type];
        if (entry.m_Image.IsValid() || !entry.m_ImageProblem.empty()) {
            ShowWarning(IDS_TWO_BIN_FILES);
            return false;
        }
        ++counted;
        if (!reason.empty()) {
            RejectDamagedImage(m_RejectedFiles, file, static_cast<int>(type), reason);
            continue;
        }
        entry.m_Image.SetPath(file);
        // The file may have changed since the probe: then it is damaged after all.
        if (!entry.m_Image.Open(type))
            RejectDamagedImage(m_RejectedFiles, file, static_cast<int>(type), entry.m_Image.GetFailure());
    }
    return true;
}

// ---- layout ----------------------------------------------------------------------------------

KivLayout CKivOneClickDlg::ComputeLayout(int clientWidth, int clientHeight, int summaryHeight)
{
    KivLayout layout;
    int gap = (clientWidth - 400) / 3;
    layout.check = {gap, 6, 200, 50};
    layout.upgrade = {2 * gap + 200, 6, 200, 50};
    const int below = summaryHeight > 0 ? summaryHeight + 6 : 0;
    layout.list = {10, 62, clientWidth - 20, clientHeight - 62 - 6 - below};
    if (summaryHeight > 0)
        layout.summary = {10, clientHeight - 6 - summaryHeight, clientWidth - 20, summaryHeight};
    return layout;
}

int CKivOneClickDlg::MinimumWidth(int frameWidth) { return 2 * frameWidth + 430; }

int CKivOneClickDlg::MinimumHeight(int captionHeight, int frameHeight) { return captionHeight + 2 * frameHeight + 62; }

std::vector<std::string> CKivOneClickDlg::ColumnTexts(int column)
{
    // The engine's status and result texts (string ids 102 to 132), "Waiting for the
    // upgrade" (155), and the widest version the version columns show.
    constexpr uint32_t FIRST_ENGINE_TEXT = 102;
    constexpr uint32_t LAST_ENGINE_TEXT = 132;
    constexpr uint32_t IDS_WAITING_UPGRADE = 155;
    constexpr const char* WIDE_VERSION = "16.200.11.01.00";
    if (column < 0 || column >= IComponentList::COLUMN_COUNT)
        return {};
    std::vector<std::string> texts{LoadStringResource(COLUMNS[column].headerId)};
    switch (column) {
    case IComponentList::COL_TYPE:
        for (uint32_t id : COMPONENT_TYPE_NAME_IDS)
            texts.push_back(LoadStringResource(id));
        break;
    case IComponentList::COL_CURRENT:
    case IComponentList::COL_UPGRADE: texts.emplace_back(WIDE_VERSION); break;
    case IComponentList::COL_STATUS:
        texts.push_back(LoadStringResource(IDS_WAITING_UPGRADE));
        for (uint32_t id = FIRST_ENGINE_TEXT; id <= LAST_ENGINE_TEXT; ++id)
            texts.push_back(LoadStringResource(id) + CUpgradeEngine::FormatElapsed(0) + "...");
        break;
    default: break;
    }
    return texts;
}

int CKivOneClickDlg::FirstSizeColumnWidth(int column, const std::function<int(const std::string&)>& textWidth,
                                          int padding)
{
    if (column < 0 || column >= IComponentList::COLUMN_COUNT)
        return 0;
    int width = textWidth(std::string(static_cast<size_t>(COLUMNS[column].widthFigure + 2), '1'));
    for (const std::string& text : ColumnTexts(column))
        width = std::max(width, textWidth(text) + padding);
    return width;
}

int CKivOneClickDlg::FitColumnWidth(int onesWidth, int contentsWidth, int contentsAndHeaderWidth)
{
    return std::max({onesWidth, contentsWidth, contentsAndHeaderWidth});
}

// ---- workers -----------------------------------------------------------------------------------

void CKivOneClickDlg::CheckWorker()
{
    CVersionCheck::Hooks hooks;
    hooks.showWarning = [this](uint32_t id) { return ShowWarning(id); };
    hooks.findImageFiles = [this] { return FindImageFiles(); };
    hooks.relayout = [this] { m_pView->Relayout(); };
    hooks.showWarningWithHint = [this](uint32_t id, const std::string& hint) { return ShowWarning(id, hint); };
    hooks.stopRequested = [this] { return m_bStopRequested.load(); };
    hooks.stopEvent = &m_StopEvent;
    CVersionCheck check(m_pTable, *m_pSession, *m_pTelnet, m_pView->GetList(), m_Overrides,
                        m_bEmbeddedImages && !m_bIgnoreEmbedded, std::move(hooks));
    {
        std::lock_guard<std::mutex> lock(m_OutcomeMutex);
        m_LastRows.clear();
        m_bRouterFound = false;
    }
    m_pView->ShowSummary(std::string());
    bool passed = check.CheckVersions();
    m_bLastCheckPassed = passed;
    {
        std::lock_guard<std::mutex> lock(m_OutcomeMutex);
        m_LastRows = check.GetRows();
        m_bRouterFound = check.RouterFound();
    }
    // Which device the check found (and would write), and what is already up to date.
    m_pView->ShowSummary(CheckSummary());

    m_pView->EnableButton(IKivView::IDC_CHECK, true);
    m_pView->EnableButton(IKivView::IDC_UPGRADE, passed);
    m_bCheckRunning = false;
    m_pView->PostNotify(passed ? NOTIFY_FOCUS_UPGRADE : NOTIFY_FOCUS_CHECK);
    m_pView->BringToForeground();
}

void CKivOneClickDlg::UpgradeWorker()
{
    const auto started = std::chrono::steady_clock::now();
    HistoryRecord record = StartHistoryRecord();
    HoldOffSleep();
    // The engine posts NOTIFY_UPGRADE_DONE through m_Notify at the end of the run; its
    // handler joins this thread, so what follows is done before the end is acted upon.
    CUpgradeEngine::UpgradeThread(m_pEngine.get());
    if (m_pInhibitor != nullptr)
        m_pInhibitor->Release();
    FinishHistoryRecord(std::move(record), started);
}

void CKivOneClickDlg::HoldOffSleep()
{
    if (m_pInhibitor == nullptr)
        return;
    std::string why;
    if (m_pInhibitor->Acquire(why))
        LogPrintf(m_pSession->Log(), "Shutdown, sleep and idle are held off until the upgrade has ended");
    else
        LogPrintf(m_pSession->Log(), "Shutdown and sleep are not held off during the upgrade: %s", why.c_str());
}

HistoryRecord CKivOneClickDlg::StartHistoryRecord() const
{
    HistoryRecord record;
    record.time = UtcTimestamp(std::chrono::system_clock::now());
    record.routerIp = m_pSession->GetRouterIpText();
    record.routerMac = m_pSession->GetRouterMacText();
    for (int i = 0; i < COMPONENT_COUNT; ++i) {
        const bool sent = i <= COMPONENT_CONFIG_FILE ? m_pEngine->IsRouterImageToSend(i) : m_pEngine->IsSelected(i);
        if (!sent)
            continue;
        const ComponentEntry& entry = m_pTable[i];
        HistoryComponent component;
        component.component = i;
        component.type = entry.m_TypeName;
        if (CVersionCheck::IsValidVersion(entry.m_CurrentVersion))
            component.oldVersion = entry.m_CurrentVersion;
        component.imageVersion = entry.m_Image.GetVersion();
        component.image = entry.m_Image.GetResourceId() != 0
                              ? "embedded image " + std::to_string(entry.m_Image.GetResourceId())
                              : entry.m_Image.GetPath();
        component.sha256 = ImageSha256(entry.m_Image);
        record.components.push_back(component);
    }
    return record;
}

void CKivOneClickDlg::FinishHistoryRecord(HistoryRecord record, std::chrono::steady_clock::time_point started)
{
    const UpgradeRunOutcome outcome = m_pEngine->GetRunOutcome();
    record.succeeded = !outcome.bFailed;
    record.resultText = outcome.strResultText;
    record.durationSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    IComponentList* list = m_pView->GetList();
    const std::string success = LoadStringResource(CUpgradeEngine::IDS_DOWNLOAD_SUCCESS);
    for (HistoryComponent& component : record.components) {
        const int row = m_pEngine->RowForComponent(component.component);
        component.status = list != nullptr ? list->GetItemText(row, IComponentList::COL_STATUS) : std::string();
        if (component.status.rfind(success, 0) == 0)
            component.result = "written";
        else if (list != nullptr && list->GetItemData(row) == CUpgradeEngine::COLOUR_FAILURE)
            component.result = "failed";
        else
            component.result = "not attempted";
        component.newVersion = m_pEngine->GetReadBackVersion(component.component);
    }
    std::string why;
    std::string path = m_strHistoryPath.empty() ? UpgradeHistoryPath(&why) : m_strHistoryPath;
    if (!path.empty() && AppendHistory(path, record, why))
        why.clear();
    else
        LogPrintf(m_pSession->Log(), "The upgrade history cannot be written: %s", why.c_str());
    std::lock_guard<std::mutex> lock(m_OutcomeMutex);
    m_strHistoryError = why;
}

void CKivOneClickDlg::ShowReadBackVersions()
{
    IComponentList* list = m_pView->GetList();
    for (int i : {COMPONENT_FIRMWARE, COMPONENT_DASHBOARD}) {
        const std::string version = m_pEngine->GetReadBackVersion(i);
        if (list != nullptr && !version.empty())
            list->SetItemText(m_pEngine->RowForComponent(i), IComponentList::COL_CURRENT, version);
    }
}

void CKivOneClickDlg::JoinWorker()
{
    if (m_Worker.joinable())
        m_Worker.join();
}

void CKivOneClickDlg::StartLoopTimer(int argument)
{
    StopLoopTimer();
    uint32_t delay = argument == 1 ? LOOP_UPGRADE_DELAY_MS : LOOP_CHECK_DELAY_MS;
    int code = argument == 1 ? NOTIFY_START_UPGRADE : NOTIFY_START_CHECK;
    m_TimerThread = std::thread([this, delay, code] {
        if (!m_TimerStop.Wait(delay))
            m_pView->PostNotify(code);
    });
}

void CKivOneClickDlg::StopLoopTimer()
{
    m_TimerStop.Set();
    if (m_TimerThread.joinable())
        m_TimerThread.join();
    m_TimerStop.Reset();
}
