#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "diag/CDiagCaller.h"
#include "diag/CHdlcAdapter.h"
#include "engine/CRouterSession.h"
#include "engine/ComponentEntry.h"
#include "engine/IComponentList.h"
#include "log/CDownloadLog.h"
#include "platform/NonCopyable.h"

class CAppFileReader;

// How the last upgrade run ended, for the controller and the command line.
struct UpgradeRunOutcome {
    bool bFailed = false;      // a step failed (or the run could not start)
    bool bShownInRow = false;  // the failure is visible in a component row
    uint32_t nResultId = 103;  // string-table id of the result
    std::string strResultText; // its text
    // For a failure no row shows: what failed and which components had been written before
    // it (the warning box and the command line say this); empty otherwise.
    std::string strFailureText;
};

// Performs an upgrade: sends the router-module images over the TCP channel, erases the
// router's NVRAM, downloads the wireless-module firmware and dashboard, and writes status,
// progress and results into the component list and the download log.
class CUpgradeEngine : public NonCopyable {
public:
    // Row index meaning "no component": writes to it change nothing visible.
    static constexpr int NO_ROW = 9;

    // Row colours (0x00BBGGRR).
    static constexpr uint32_t COLOUR_RUNNING = 0;
    static constexpr uint32_t COLOUR_SUCCESS = 0xFF0000;
    static constexpr uint32_t COLOUR_FAILURE = 0x0000FF;

    // String-table ids of status and result texts.
    static constexpr uint32_t IDS_RESTARTING = 102;
    static constexpr uint32_t IDS_DOWNLOAD_SUCCESS = 103;
    static constexpr uint32_t IDS_OFFLINE_MODE = 105;
    static constexpr uint32_t IDS_SWITCHING_DOWNLOADER = 106;
    static constexpr uint32_t IDS_BACKING_UP_NV = 107;
    static constexpr uint32_t IDS_CHECK_NV_RESTORE = 109;
    static constexpr uint32_t IDS_UNLOCKING = 110;
    static constexpr uint32_t IDS_ERASING_NVRAM = 111;
    static constexpr uint32_t IDS_WAITING_ROUTER = 112;
    static constexpr uint32_t IDS_PREPARING_WIRELESS = 113;
    static constexpr uint32_t IDS_DOWNLOADING_FIRMWARE = 114;
    static constexpr uint32_t IDS_DOWNLOADING_DASHBOARD = 115;
    static constexpr uint32_t IDS_TRANSMITTING_ROUTER = 116;
    static constexpr uint32_t IDS_TCP_CONNECT_FAILED = 119;
    static constexpr uint32_t IDS_BEGIN_PACKET_FAILED = 120;
    static constexpr uint32_t IDS_ROUTER_TRANSFER_FAILED = 121;
    static constexpr uint32_t IDS_ROUTER_RESULT_FAIL = 122;
    static constexpr uint32_t IDS_ROUTER_RESULT_TIMEOUT = 123;
    static constexpr uint32_t IDS_HANDSHAKE_FAILED = 124;
    static constexpr uint32_t IDS_NV_BACKUP_FAILED = 125;
    static constexpr uint32_t IDS_VERSION_CHECK_FAILED = 126;
    static constexpr uint32_t IDS_SWITCH_DOWNLOADER_FAILED = 127;
    static constexpr uint32_t IDS_UNLOCK_FAILED = 128;
    static constexpr uint32_t IDS_DOWNLOAD_FAILED = 129;
    static constexpr uint32_t IDS_RESTART_FAILED = 130;
    static constexpr uint32_t IDS_RESTART_TIMEOUT = 131;
    static constexpr uint32_t IDS_NV_RESTORE_FAILED = 132;

    // Reply time-outs (ms) of the router control records.
    static constexpr uint32_t ERASE_NVRAM_TIMEOUT_MS = 4000;
    static constexpr uint32_t FORCE_LOAD_TIMEOUT_MS = 2000;
    static constexpr uint32_t READY_PROBE_TIMEOUT_MS = 2000;

    // Chunk size of the router transfer (the wireless one sends the module's largest block).
    static constexpr uint32_t ROUTER_CHUNK_SIZE = 7300;

    // Upgrades the router of `session` (not owned: the router, its channel and the log),
    // using `table` (COMPONENT_COUNT entries, not owned) as the component table.
    explicit CUpgradeEngine(CRouterSession& session, ComponentEntry* table = GetComponentTable());
    ~CUpgradeEngine() override;

    // Thread procedure: runs one upgrade of every selected component, then calls the end
    // notification with 0. Returns 0.
    static uint32_t UpgradeThread(CUpgradeEngine* engine);

    // The list the rows are written to (null: none).
    void SetList(IComponentList* list) { m_pList = list; }
    // Called at the end of every run with code 0, on the worker thread; the owner hands it
    // to its own thread.
    void SetNotify(std::function<void(int code)> notify) { m_Notify = std::move(notify); }

    // Channel to the router.
    bool OpenChannel();
    bool CloseChannel();

    bool IsSelected(int index) const;

    // Row output: to row `row` (NO_ROW: nothing visible), the result `resultId` timed from
    // the step start.
    void SetRow(int row) { m_nRow = row; }
    void SetResultId(uint32_t resultId) { m_nResultId = resultId; }
    void SetStepStart(std::time_t start) { m_tStepStart = start; }
    std::time_t GetStepStart() const { return m_tStepStart; }
    void SetStatus(uint32_t stringId, uint32_t colour);
    void SetStatusText(const std::string& text, uint32_t colour);
    void ShowResult();
    void SetProgress(int percent);
    // `done` x 100 / `total`, in 64 bits so that byte counts of any image size give the
    // right percentage; 100 for a total of 0, never above 100.
    static int ProgressPercent(uint64_t done, uint64_t total);

    // Steps of a run.
    bool EraseRouterNvram();
    bool UpgradeRouterImage(CBinFile& image);
    bool UpgradeFirmware();
    bool UpgradeDashboard();

    // Router module transfer.
    bool SendBeginPacket(int kind, uint32_t value);
    bool TCP_GetRouterResult(int imageType);

    // Wireless module download.
    bool HandShakeWithRetry();
    bool EnterDownloader();
    bool UnlockModule(const uint8_t code[8]);
    bool DownloadImage(CBinFile& image);
    uint32_t BuildWriteFrame(uint32_t address, uint32_t length, const uint8_t* data);
    bool DIAG_Write(uint32_t frameLength);
    bool RestartModule();
    bool Waiting();
    bool CheckNvRestore();

    // Force-load mode and router probes.
    bool EnterForceLoad();
    bool LeaveForceLoad();
    bool WaitRouterReady(uint32_t limitMs);

    // Shows the result of one component step and returns `succeeded`. A step that
    // succeeded shows success even when an earlier recovered failure left its id pending.
    bool ShowStepResult(bool succeeded);

    // Row a component's status goes to (the list shows only one router family).
    int RowForComponent(int index) const;
    // Family A has a selected image (BOOT, APP or Customization).
    bool IsFamilyASelected() const;
    // A router image that this run sends: selected, and not a family B image while family A
    // images are present (family B images must never reach a family A router).
    bool IsRouterImageToSend(int index) const;

    // Outcome of the last run; read it after the end notification.
    UpgradeRunOutcome GetRunOutcome() const;

    // The version the last run read back from the wireless module after writing component
    // `index` (firmware or dashboard); empty when it read none.
    std::string GetReadBackVersion(int index) const;

    // " (MM:SS)" of an elapsed time in seconds (minutes within the hour).
    static std::string FormatElapsed(long long seconds);

    // Last progress value written, shared by every row for the life of the process.
    static int GetLastProgress();

    // Scaled milliseconds the last run spent in its fixed pauses (for measurements).
    uint64_t GetPausedMs() const { return m_nPausedMs.load(); }

    // True from the start of a run until the module has been told to leave force-load mode
    // and the channel is closed.
    bool IsUpgrading() const { return m_Busy.load() == BUSY_UPGRADING; }
    // The last run put the module into force-load mode.
    bool ForceLoadEntered() const { return m_bForceLoadEntered == 1; }

private:
    enum class StepsResult { Succeeded, FailedShown, FailedUnshown };

    static constexpr uint8_t BUSY_UPGRADING = 3;

    int32_t m_nRow = NO_ROW;
    std::time_t m_tStepStart = 0;
    IComponentList* m_pList = nullptr;
    uint32_t m_nResultId = IDS_DOWNLOAD_SUCCESS;
    uint32_t m_bForceLoadEntered = 0;
    std::atomic<uint8_t> m_Busy{0};
    CRouterSession& m_Session;
    // The session's log, channel and DIAG calls.
    CDownloadLog& m_Log;
    CHdlcAdapter& m_Adapter;
    CDiagCaller& m_Diag;
    std::function<void(int code)> m_Notify;

    uint32_t Run();
    // Runs the component steps on an open channel.
    StepsResult RunSteps();
    void SetOutcome(bool failed, bool shownInRow);
    // What failed, for a failure no row shows, and what this run had written before it.
    std::string UnshownFailureText() const;
    void LogRouterMac();
    bool ExchangeRecord(uint8_t type, uint32_t replyTimeoutMs);
    bool SendRouterData(CBinFile& image, uint32_t total);
    bool DownloadPart(CAppFileReader& reader, int part, uint32_t total, uint64_t& written);
    // Logs that a block of `image`, not verified when it was opened, fails its checksum.
    void LogImageDamaged(const CBinFile& image, const std::string& failure);

    // A fixed pause of the sequence, counted in m_nPausedMs.
    void Pause(uint32_t ms);

    // Remembers what the module reported after component `index` was written.
    void SetReadBackVersion(int index, const std::string& version);

    ComponentEntry* m_pTable;
    std::atomic<uint64_t> m_nPausedMs{0};
    std::array<std::string, COMPONENT_COUNT> m_ReadBack; // guarded by m_OutcomeLock
    std::vector<int> m_Written;                          // the components this run has written, in order
    mutable std::mutex m_OutcomeLock;
    UpgradeRunOutcome m_Outcome;
};
