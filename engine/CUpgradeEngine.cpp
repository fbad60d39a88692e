#include "engine/CUpgradeEngine.h"

#include <cstdio>
#include <cstdlib>

#include "diag/CUdpHdlc.h"
#include "platform/Clock.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"

namespace {

// Last percentage written to any row; shared by every row for the life of the process.
std::atomic<int> g_LastProgress{-1};

constexpr uint32_t PAUSE_BETWEEN_STEPS_MS = 1000;
constexpr int ERASE_TRIES = 3;
constexpr uint32_t ERASE_RETRY_PAUSE_MS = 1000;
constexpr const char* SEPARATOR = "++++++++++++++++++++++++++++++++++++++++++++++++++";

} // namespace

CUpgradeEngine::CUpgradeEngine(CRouterSession& session, ComponentEntry* table)
    : m_Session(session), m_Log(session.Log()), m_Adapter(session.Adapter()), m_Diag(session.Diag()), m_pTable(table)
{
}

CUpgradeEngine::~CUpgradeEngine() = default;

void CUpgradeEngine::LogImageDamaged(const CBinFile& image, const std::string& failure)
{
    if (image.GetResourceId() != 0)
        LogPrintf(m_Log, "Embedded image %u is damaged: %s", static_cast<unsigned>(image.GetResourceId()),
                  failure.c_str());
    else
        LogPrintf(m_Log, "Image %s is damaged: %s", MakePrintable(image.GetPath()).c_str(), failure.c_str());
}

uint32_t CUpgradeEngine::UpgradeThread(CUpgradeEngine* engine) { return engine != nullptr ? engine->Run() : 0; }

uint32_t CUpgradeEngine::Run()
{
    m_tStepStart = std::time(nullptr);
    LogRouterMac();
    m_Busy = BUSY_UPGRADING;
    m_nResultId = IDS_DOWNLOAD_SUCCESS;
    m_nRow = NO_ROW;
    m_bForceLoadEntered = 0;
    m_nPausedMs = 0;
    m_Written.clear();
    {
        std::lock_guard lock(m_OutcomeLock);
        for (std::string& version : m_ReadBack)
            version.clear();
    }

    const StepsResult result = OpenChannel() ? RunSteps() : StepsResult::FailedUnshown;

    if (IsSelected(COMPONENT_FIRMWARE) || IsSelected(COMPONENT_DASHBOARD))
        LeaveForceLoad();
    CloseChannel();
    LogPrintf(m_Log, "%s", SEPARATOR);
    m_Log.Flush();
    SetOutcome(result != StepsResult::Succeeded, result == StepsResult::FailedShown);
    // Cleared only now: closing the owner is refused until the module has been told to
    // leave force-load mode and the channel is closed.
    m_Busy = 0;
    if (m_Notify)
        m_Notify(0);
    return 0;
}

CUpgradeEngine::StepsResult CUpgradeEngine::RunSteps()
{
    for (int index = COMPONENT_BOOT; index <= COMPONENT_CONFIG_FILE; ++index) {
        if (!IsRouterImageToSend(index))
            continue;
        if (!ShowStepResult(UpgradeRouterImage(m_pTable[index].m_Image)))
            return StepsResult::FailedShown;
        m_Written.push_back(index);
        Pause(PAUSE_BETWEEN_STEPS_MS);
    }

    bool eraseNeeded = false;
    for (int index = COMPONENT_APP; index <= COMPONENT_CONFIG_FILE; ++index)
        eraseNeeded = eraseNeeded || IsRouterImageToSend(index);
    if (eraseNeeded) {
        if (!EraseRouterNvram()) {
            m_nResultId = IDS_ERASING_NVRAM;
            return StepsResult::FailedUnshown;
        }
        Pause(PAUSE_BETWEEN_STEPS_MS);
    }

    if (IsSelected(COMPONENT_FIRMWARE)) {
        if (!ShowStepResult(UpgradeFirmware()))
            return StepsResult::FailedShown;
        m_Written.push_back(COMPONENT_FIRMWARE);
        Pause(PAUSE_BETWEEN_STEPS_MS);
    }
    if (IsSelected(COMPONENT_DASHBOARD) && !ShowStepResult(UpgradeDashboard()))
        return StepsResult::FailedShown;
    return StepsResult::Succeeded;
}

bool CUpgradeEngine::ShowStepResult(bool succeeded)
{
    // A step that succeeded shows success even when an earlier, recovered hand-shake failure
    // left its result id pending; that failure stays in the log.
    if (succeeded)
        m_nResultId = IDS_DOWNLOAD_SUCCESS;
    ShowResult();
    return succeeded;
}

void CUpgradeEngine::SetOutcome(bool failed, bool shownInRow)
{
    std::lock_guard lock(m_OutcomeLock);
    m_Outcome.bFailed = failed;
    m_Outcome.bShownInRow = shownInRow;
    m_Outcome.nResultId = m_nResultId;
    m_Outcome.strResultText = LoadStringResource(m_nResultId);
    m_Outcome.strFailureText = failed && !shownInRow ? UnshownFailureText() : std::string();
}

std::string CUpgradeEngine::UnshownFailureText() const
{
    std::string text = LoadStringResource(m_nResultId);
    // The erase's text is the status shown while it runs; say that it failed.
    if (m_nResultId == IDS_ERASING_NVRAM)
        text += " failed: the router did not confirm the erase";
    if (m_Written.empty())
        return text + ". Nothing had been written.";
    text += ". Written before it: ";
    for (size_t i = 0; i < m_Written.size(); ++i)
        text += (i == 0 ? "" : ", ") + LoadStringResource(COMPONENT_TYPE_NAME_IDS[m_Written[i]]);
    return text + ".";
}

UpgradeRunOutcome CUpgradeEngine::GetRunOutcome() const
{
    std::lock_guard lock(m_OutcomeLock);
    return m_Outcome;
}

void CUpgradeEngine::LogRouterMac() { LogPrintf(m_Log, "%s", m_Session.GetRouterMacText().c_str()); }

void CUpgradeEngine::SetReadBackVersion(int index, const std::string& version)
{
    std::lock_guard lock(m_OutcomeLock);
    m_ReadBack.at(static_cast<size_t>(index)) = version;
}

std::string CUpgradeEngine::GetReadBackVersion(int index) const
{
    std::lock_guard lock(m_OutcomeLock);
    return index >= 0 && index < COMPONENT_COUNT ? m_ReadBack[static_cast<size_t>(index)] : std::string();
}

bool CUpgradeEngine::OpenChannel()
{
    m_nRow = NO_ROW;
    if (!m_Session.OpenChannel()) {
        m_nResultId = IDS_TCP_CONNECT_FAILED;
        return false;
    }
    return true;
}

bool CUpgradeEngine::CloseChannel() { return m_Session.CloseChannel(); }

bool CUpgradeEngine::IsSelected(int index) const
{
    if (m_pTable == nullptr || index < 0 || index >= COMPONENT_COUNT)
        return false;
    const ComponentEntry& entry = m_pTable[index];
    return entry.m_Image.IsValid() && entry.m_UpgradeFlag == 1;
}

bool CUpgradeEngine::IsFamilyASelected() const
{
    return IsSelected(COMPONENT_BOOT) || IsSelected(COMPONENT_APP) || IsSelected(COMPONENT_CUSTOMIZATION);
}

bool CUpgradeEngine::IsRouterImageToSend(int index) const
{
    if (index < COMPONENT_BOOT || index > COMPONENT_CONFIG_FILE || !IsSelected(index))
        return false;
    return index <= COMPONENT_CUSTOMIZATION || !IsFamilyASelected();
}

int CUpgradeEngine::RowForComponent(int index) const
{
    if (index < COMPONENT_BOOT || index > COMPONENT_DASHBOARD)
        return NO_ROW;
    const bool familyA = IsFamilyASelected();
    if (index == COMPONENT_FIRMWARE)
        return familyA ? 3 : 4;
    if (index == COMPONENT_DASHBOARD)
        return familyA ? 4 : 5;
    return familyA ? index : index - 3;
}

void CUpgradeEngine::SetStatus(uint32_t stringId, uint32_t colour)
{
    std::string text;
    if (!LoadStringResource(stringId, text))
        return;
    SetStatusText(text, colour);
}

void CUpgradeEngine::SetStatusText(const std::string& text, uint32_t colour)
{
    if (m_pList != nullptr) {
        m_pList->SetItemData(m_nRow, colour);
        m_pList->SetItemText(m_nRow, IComponentList::COL_STATUS, text);
        const int width = m_pList->GetStringWidth(text + "...");
        if (width > m_pList->GetColumnWidth(IComponentList::COL_STATUS))
            m_pList->SetColumnWidth(IComponentList::COL_STATUS, width);
    }
    LogPrintf(m_Log, "%s", text.c_str());
}

std::string CUpgradeEngine::FormatElapsed(long long seconds)
{
    if (seconds < 0)
        seconds = 0;
    char text[16];
    std::snprintf(text, sizeof text, " (%02lld:%02lld)", (seconds / 60) % 60, seconds % 60);
    return text;
}

void CUpgradeEngine::ShowResult()
{
    const std::time_t now = std::time(nullptr);
    const std::string text = LoadStringResource(m_nResultId) +
                             FormatElapsed(static_cast<long long>(now - m_tStepStart));
    SetStatusText(text, m_nResultId == IDS_DOWNLOAD_SUCCESS ? COLOUR_SUCCESS : COLOUR_FAILURE);
    m_tStepStart = now;
}

void CUpgradeEngine::SetProgress(int percent)
{
    if (g_LastProgress.exchange(percent) == percent)
        return;
    if (m_pList != nullptr)
        m_pList->SetItemText(m_nRow, IComponentList::COL_PERCENT, std::to_string(percent) + "%");
}

int CUpgradeEngine::ProgressPercent(uint64_t done, uint64_t total)
{
    if (total == 0 || done >= total)
        return 100;
    return static_cast<int>(done * 100 / total);
}

int CUpgradeEngine::GetLastProgress() { return g_LastProgress.load(); }

void CUpgradeEngine::Pause(uint32_t ms)
{
    Sleep(ms);
    m_nPausedMs += ms;
}

bool CUpgradeEngine::EraseRouterNvram()
{
    m_nRow = NO_ROW;
    SetStatus(IDS_ERASING_NVRAM, COLOUR_RUNNING);
    for (int attempt = 0; attempt < ERASE_TRIES; ++attempt) {
        if (ExchangeRecord(UDP_ERASE_NVRAM, ERASE_NVRAM_TIMEOUT_MS))
            return true;
        Pause(ERASE_RETRY_PAUSE_MS);
    }
    return false;
}

bool CUpgradeEngine::ExchangeRecord(uint8_t type, uint32_t replyTimeoutMs)
{
    CUdpHdlc udp(m_Session.GetRouterIp().data(), m_Session.GetRouterPort(), m_Session.GetInterface());
    udp.m_Request.Clear();
    udp.m_Request.SetType(type);
    udp.m_Request.SetIp(m_Session.GetRouterIp().data());
    udp.m_Request.SetMac(m_Session.GetRouterMac().data());
    return udp.Exchange(replyTimeoutMs);
}
