#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/IKivView.h"
#include "app/RouterOverrides.h"
#include "platform/CEvent.h"
#include "platform/CPollableEvent.h"

class CTelnetClient;
class CUpgradeEngine;
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

// Where the three controls go for a client area of a given size.
struct KivLayout {
    KivRect check;
    KivRect upgrade;
    KivRect list;
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
};

// The controller of the main dialog: owns the component table's use, the Telnet client,
// the upgrade engine, the check and upgrade workers and the loop-test timer; talks to the
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
    // The warning the check shows about them ("" when there are none).
    std::string RejectedImagesText() const;
    // Asks a running check to stop at its next step (the command line's Ctrl-C). The
    // check then ends as failed. Any thread.
    void RequestStop();

    // Layout numbers for a client area of width W and height H.
    static KivLayout ComputeLayout(int clientWidth, int clientHeight);
    // Smallest client size: 2 x frame width + 430 and caption + 2 x frame height + 62.
    static int MinimumWidth(int frameWidth);
    static int MinimumHeight(int captionHeight, int frameHeight);
    // Column width: the largest of the width of (figure + 2) ones, the width fitted to the
    // contents, and the width fitted to contents and header.
    static int FitColumnWidth(int onesWidth, int contentsWidth, int contentsAndHeaderWidth);
    static const KivColumnSpec COLUMNS[5];

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

    CUpgradeEngine& GetEngine() { return *m_pEngine; }
    CTelnetClient& GetTelnet() { return *m_pTelnet; }
    ComponentEntry* GetComponentTable() { return m_pTable; }
    IKivView* GetView() { return m_pView; }
    const RouterOverrides& GetRouterOverrides() const { return m_Overrides; }

private:
    // A time scale other than 1 is written to the log when the dialog starts.
    void LogTimeScale();
    void CheckWorker();
    void UpgradeWorker();
    void StartLoopTimer(int argument);
    void StopLoopTimer();
    void JoinWorker();
    std::vector<std::string> ImageDirectories() const;
    bool LoadImagesFrom(const std::string& dir, int& counted);
    // Logs one refused image and keeps it for the warning after the check.
    void RejectImage(std::vector<RejectedImage>& list, const std::string& name, const std::string& reason);

    IKivView* m_pView;
    ComponentEntry* m_pTable;
    std::unique_ptr<CTelnetClient> m_pTelnet;
    std::unique_ptr<CUpgradeEngine> m_pEngine;
    RouterOverrides m_Overrides;
    std::string m_strImageDir;
    std::string m_strLoopTestPath = DEFAULT_LOOP_TEST_PATH;
    bool m_bEmbeddedImages = false;
    bool m_bIgnoreEmbedded = false;
    bool m_bLoopTest = false;
    bool m_bClosePending = false;

    std::thread m_Worker; // the check or the upgrade, one at a time
    std::atomic<bool> m_bCheckRunning{false};
    std::atomic<bool> m_bUpgradeRunning{false};
    std::atomic<bool> m_bLastCheckPassed{false};
    std::atomic<bool> m_bStopRequested{false};
    CPollableEvent m_StopEvent; // set with m_bStopRequested: ends a discovery wait at once
    mutable std::mutex m_RejectedMutex;
    std::vector<RejectedImage> m_RejectedEmbedded;
    std::vector<RejectedImage> m_RejectedFiles;
    mutable std::mutex m_OutcomeMutex;
    bool m_bUpgradeFailedSilently = false;
    std::string m_strUpgradeFailureText;
    ImageSearchResult m_LastSearch; // guarded by m_OutcomeMutex

    std::thread m_TimerThread; // loop-test timer
    CEvent m_TimerStop{true};
};
