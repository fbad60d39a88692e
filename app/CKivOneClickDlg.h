#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/CheckRow.h"
#include "app/IKivView.h"
#include "app/RouterOverrides.h"
#include "app/UpgradeHistory.h"
#include "engine/ComponentEntry.h"
#include "net/CWsaEvent.h"
#include "platform/CEvent.h"

class CRouterSession;
class CTelnetClient;
class CUpgradeEngine;
class ISleepInhibitor;
struct ComponentEntry;

// Worker notification codes, posted through IKivView::PostNotify.
constexpr int NOTIFY_UPGRADE_DONE = 0;
constexpr int NOTIFY_DISABLE_BUTTONS = 1;
constexpr int NOTIFY_START_CHECK = 2;
constexpr int NOTIFY_START_UPGRADE = 3;
constexpr int NOTIFY_FOCUS_CHECK = 4;
constexpr int NOTIFY_FOCUS_UPGRADE = 5;

// What the last "*.bin" search looked at: the directories in the order searched, and the
// one whose images were taken (empty when none was).
struct ImageSearchResult {
    std::vector<std::string> searched;
    std::string used;
};

// Pixel rectangle of one control in the dialog's client area.
struct KivRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const KivRect&) const = default;
};

// Where the controls go for a client area of a given size: the two buttons, the list, and
// the summary lines under it (empty while there are none).
struct KivLayout {
    KivRect check;
    KivRect upgrade;
    KivRect list;
    KivRect summary;
    bool operator==(const KivLayout&) const = default;
};

// One column of the component list.
struct KivColumnSpec {
    uint32_t headerId; // string-table id of the header text
    bool centred;      // false: left-aligned
    int widthFigure;   // number of characters the column must at least fit
};

// An image that was found but is not used, and the first check it failed (the wording of
// the image tool's "verify", e.g. "part 0 block 2: checksum mismatch").
struct RejectedImage {
    std::string name; // the file's path, or "embedded image ID"
    std::string reason;
    // The component a damaged image was meant for (its headers name one): the check fails
    // in that row. COMPONENT_NONE for a file that is not an image of ours at all.
    int component = COMPONENT_NONE;
};

// The controller of the main dialog: owns the component table's use, the Telnet client,
// the router session (which the check fills and the upgrade uses), the upgrade engine, the check and upgrade workers and the loop-test timer; talks to the
// user only through an IKivView.
//
// Threads: every On* handler runs on the view thread. At most one worker (check or
// upgrade) runs at a time; the controller owns it and joins it (when its end notification
// arrives, before the next worker starts, and in the destructor). Workers reach the view
// only through IKivView's any-thread calls.
//
// Closing (OnCancel): refused with "The upgrade is in process. Please wait!" while the
// upgrade worker runs (from OnUpgrade until its end notification has been handled, which
// covers the engine's closing steps too). While a check runs, closing is asked as usual
// and, on Yes, deferred: the check goes on (its message boxes still work, because the view
// thread is never blocked) and the dialog ends as soon as the check's end notification
// arrives. The destructor joins whatever still runs.
class CKivOneClickDlg {
public:
    // The file whose presence at start switches the loop test on.
    static constexpr const char* DEFAULT_LOOP_TEST_PATH = "/LoopTest.ini";

    // `table` is the nine-entry component table (default: the process-wide one).
    explicit CKivOneClickDlg(IKivView* view, ComponentEntry* table = nullptr);
    ~CKivOneClickDlg();
    CKivOneClickDlg(const CKivOneClickDlg&) = delete;
    CKivOneClickDlg& operator=(const CKivOneClickDlg&) = delete;

    // ---- set-up, before OnInitDialog -------------------------------------------------
    // Discovery targets and ports (default: LoadRouterOverrides(), i.e. the environment).
    void SetRouterOverrides(const RouterOverrides& overrides);
    // Look for "*.bin" images in `dir` only, instead of beside the program and in the
    // installation's image directory, and ignore the embedded images.
    void SetImageDirectory(const std::string& dir);
    // The loop-test switch file (default DEFAULT_LOOP_TEST_PATH).
    void SetLoopTestPath(const std::string& path);
    // What holds off shutdown and sleep during an upgrade (not owned; null: nothing).
    void SetSleepInhibitor(ISleepInhibitor* inhibitor) { m_pInhibitor = inhibitor; }
    // The upgrade history file (default: UpgradeHistoryPath()).
    void SetHistoryPath(const std::string& path) { m_strHistoryPath = path; }

    // ---- handlers (view thread) --------------------------------------------------------
    // Controller part of the start sequence: type names, embedded images, loop-test flag,
    // first layout. Returns true.
    bool OnInitDialog();
    // "&Check": disables both buttons and starts the check worker.
    void OnCheck();
    // "&Upgrade": disables both buttons and starts the upgrade worker.
    void OnUpgrade();
    // Reaction to a worker notification code. Returns 0.
    int OnWorkerNotify(int code);
    // Escape / close box. True when the dialog was ended (or will end after the check).
    bool OnCancel();
    // A stop signal (`name`, e.g. "SIGTERM") reached the program: logged, then the dialog
    // ends without asking: at once when idle, after a running check has stopped, after a
    // running upgrade has ended (it is never cut short: the module still leaves force-load
    // mode and the log gets its last lines).
    void OnStopSignal(const std::string& name);

    // ---- services ----------------------------------------------------------------------
    // Modal warning with a string-table text. Any thread.
    int ShowWarning(uint32_t stringId);
    // The same with lines of advice shown below the text.
    int ShowWarning(uint32_t stringId, const std::string& hint);
    // Rescans the image directories for "*.bin" files: the first directory holding at least
    // one usable image supplies them all. Worker thread (the check).
    bool FindImageFiles();
    // The directories the last FindImageFiles looked at. Any thread.
    ImageSearchResult LastImageSearch() const;
    // Images found but not used: the embedded ones refused at start and the files refused
    // by the last search (in every directory it looked at). Any thread.
    std::vector<RejectedImage> GetRejectedImages() const;
    // Asks a running check to stop at its next step (the command line's Ctrl-C). The
    // check then ends as failed. Any thread.
    void RequestStop();

    // Layout numbers for a client area of width W and height H; a summary of
    // `summaryHeight` pixels takes that much and a 6-pixel gap from the list's bottom.
    static KivLayout ComputeLayout(int clientWidth, int clientHeight, int summaryHeight = 0);
    // Smallest client size: 2 x frame width + 430 and caption + 2 x frame height + 62.
    static int MinimumWidth(int frameWidth);
    static int MinimumHeight(int captionHeight, int frameHeight);
    // Column width: the largest of the width of (figure + 2) ones, the width fitted to the
    // contents, and the width fitted to contents and header.
    static int FitColumnWidth(int onesWidth, int contentsWidth, int contentsAndHeaderWidth);
    static const KivColumnSpec COLUMNS[5];
    // The texts column `column` must show whole at the window's first size: its header, the
    // component names (type), the widest version (the version columns), and every status the
    // check and the upgrade write, with a time and "..." (status).
    static std::vector<std::string> ColumnTexts(int column);
    // The width column `column` needs at the first size: its width figure in ones, or its
    // longest text (ColumnTexts) plus the cell's `padding`, as `textWidth` measures them.
    static int FirstSizeColumnWidth(int column, const std::function<int(const std::string&)>& textWidth, int padding);

    // ---- state ---------------------------------------------------------------------------
    bool IsCheckRunning() const { return m_bCheckRunning.load(); }
    bool IsUpgradeRunning() const { return m_bUpgradeRunning.load(); }
    bool IsWorkerRunning() const { return IsCheckRunning() || IsUpgradeRunning(); }
    bool HasEmbeddedImages() const { return m_bEmbeddedImages; }
    bool IsLoopTest() const { return m_bLoopTest; }
    // Result of the last finished check (false before any).
    bool LastCheckPassed() const { return m_bLastCheckPassed.load(); }
    // After an upgrade: true when the run ended before any row showed a result (channel
    // not opened, NVRAM erase failed); the text is then in LastUpgradeFailureText.
    bool LastUpgradeFailedSilently() const;
    std::string LastUpgradeFailureText() const;
    // The rows of the last finished check, in list order. Any thread.
    std::vector<CheckRow> LastCheckRows() const;
    // "Router 192.168.1.1, MAC 00-11-22-33-44-55" of the router the last check found ("" when
    // it found none).
    std::string RouterLine() const;
    // What the window shows under the list after a check: the router line and the line
    // about rows already at their image's version, each ending with '\n'.
    std::string CheckSummary() const;
    // Why the last upgrade's history line was not written ("" when it was).
    std::string LastHistoryError() const;

    CUpgradeEngine& GetEngine() { return *m_pEngine; }
    // The router, its channel and the download log.
    CRouterSession& GetSession() { return *m_pSession; }
    CTelnetClient& GetTelnet() { return *m_pTelnet; }
    ComponentEntry* GetComponentTable() { return m_pTable; }
    IKivView* GetView() { return m_pView; }
    const RouterOverrides& GetRouterOverrides() const { return m_Overrides; }

private:
    // A time scale other than 1 is written to the log when the dialog starts.
    void LogTimeScale();
    void CheckWorker();
    void UpgradeWorker();
    // The history record of a run about to start: router, time, and each component's
    // versions, image and digest.
    HistoryRecord StartHistoryRecord() const;
    // Completes it with the rows' results and read-back versions, and appends it.
    void FinishHistoryRecord(HistoryRecord record, std::chrono::steady_clock::time_point started);
    // Takes the sleep inhibitor's lock (logged either way).
    void HoldOffSleep();
    // Shows the versions the run read back in the current-version cells.
    void ShowReadBackVersions();
    void StartLoopTimer(int argument);
    void StopLoopTimer();
    void JoinWorker();
    std::vector<std::string> ImageDirectories() const;
    bool LoadImagesFrom(const std::string& dir, int& counted);
    // A file that is not an image of ours: named once (log and view notice) and kept for
    // the report.
    void RejectForeignFile(const std::string& file, const std::string& reason);
    // An image whose headers name `component` but which failed a later check. False when
    // that component already has an image from this search (two files of one type).
    bool RejectDamagedImage(std::vector<RejectedImage>& list, const std::string& name, int component,
                            const std::string& reason);

    IKivView* m_pView;
    ComponentEntry* m_pTable;
    std::unique_ptr<CTelnetClient> m_pTelnet;
    std::unique_ptr<CRouterSession> m_pSession;
    std::unique_ptr<CUpgradeEngine> m_pEngine;
    RouterOverrides m_Overrides;
    std::string m_strImageDir;
    std::string m_strLoopTestPath = DEFAULT_LOOP_TEST_PATH;
    bool m_bEmbeddedImages = false;
    bool m_bIgnoreEmbedded = false;
    bool m_bLoopTest = false;
    bool m_bClosePending = false;
    bool m_bEndAfterUpgrade = false; // a stop signal came during the upgrade
    ISleepInhibitor* m_pInhibitor = nullptr;
    std::string m_strHistoryPath;
    std::set<std::string> m_ReportedForeign; // "file: reason" already named; worker only

    std::thread m_Worker; // the check or the upgrade, one at a time
    std::atomic<bool> m_bCheckRunning{false};
    std::atomic<bool> m_bUpgradeRunning{false};
    std::atomic<bool> m_bLastCheckPassed{false};
    std::atomic<bool> m_bStopRequested{false};
    CWsaEvent m_StopEvent; // set with m_bStopRequested: ends a discovery wait at once
    mutable std::mutex m_RejectedMutex;
    std::vector<RejectedImage> m_RejectedEmbedded;
    std::vector<RejectedImage> m_RejectedFiles;
    mutable std::mutex m_OutcomeMutex;
    bool m_bUpgradeFailedSilently = false;
    std::string m_strUpgradeFailureText;
    ImageSearchResult m_LastSearch;   // guarded by m_OutcomeMutex
    std::vector<CheckRow> m_LastRows; // guarded by m_OutcomeMutex
    bool m_bRouterFound = false;      // guarded by m_OutcomeMutex
    std::string m_strHistoryError;    // guarded by m_OutcomeMutex

    std::thread m_TimerThread; // loop-test timer
    CEvent m_TimerStop{true};
};
