#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/IKivView.h"
#include "win/CDialogThreadQueue.h"
#include "win/CEndSessionGuard.h"
#include "win/DialogLayout.h"
#include "win/controls/CMyListCtrl.h"
#include "win/controls/CXPStyleButtonST.h"

class CKivOneClickDlg;
class CListViewBridge;
class CThemeHelperST;

// The program's main window on Windows: the dialog of template 102 and the view of
// CKivOneClickDlg. Two owner-drawn buttons above the five-column component list, placed by
// the controller's layout numbers at the window's DPI. The controller and the workers reach
// the window through IKivView: from a worker every call is a message posted to the dialog
// (CDialogThreadQueue), never sent; only ShowWarning waits, for the user, and returns at once
// once the dialog is closing.
//
// Around the controller the window keeps its placement in the registry, opens the help file
// on F1, refuses a log-off or shutdown while an upgrade runs (and, when the session ends all
// the same, lets the upgrade reach its end first), and scales to its monitor's DPI.
class CMainDialog : public IKivView {
public:
    static constexpr int IDD = 102;
    // The lines under the list after a check: the router found, the rows already up to date.
    static constexpr int IDC_SUMMARY = SUMMARY_CONTROL_ID;
    // Where the loop test's switch file is looked for.
    static constexpr const char* LOOP_TEST_PATH = "C:\\LoopTest.ini";

    // `theme` may be null: the buttons then draw unthemed.
    explicit CMainDialog(CThemeHelperST* theme);
    ~CMainDialog() override;
    CMainDialog(const CMainDialog&) = delete;
    CMainDialog& operator=(const CMainDialog&) = delete;

    // The controller, for set-up before DoModal.
    CKivOneClickDlg& Controller() { return *m_pDlg; }

    // Shows the dialog from the program's template until it ends; its result.
    INT_PTR DoModal(HINSTANCE module);

    // IKivView
    void EnableButton(int controlId, bool enable) override;
    void FocusButton(int controlId) override;
    IComponentList* GetList() override;
    int ShowWarning(const std::string& text) override;
    void ShowSummary(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void PostNotify(int code) override;
    void RunOnViewThread(std::function<void()> task) override;
    void Relayout() override;
    void BringToForeground() override;
    void EndDialog(int result) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Sets the dialog procedure's answer to a message whose result is not its return value.
    INT_PTR Answer(LRESULT result);

    void OnInitDialog();
    void InitButtons();
    void InitColumns();
    void LoadIcons();
    void UpdateFont();
    void Layout();
    // The first size: wide enough for every column's longest text.
    void FitFirstSize();
    bool OnCommand(int id);
    void OnHelp();
    void OnDpiChanged(const RECT& suggested);
    void OnEndSession();
    // Dialog thread: the summary's height for the list's width (0 while it is empty).
    int SummaryHeight(int width) const;
    void PaintMinimized();
    // The end-session guard follows the controller: busy exactly while an upgrade runs.
    void SyncBusy();
    // On the dialog thread at once; from a worker, posted in the order made.
    void RunHere(std::function<void()> task);
    // A warning box that does not wait: the first failure of the download log.
    void ShowLogFailure(const std::string& why);

    CThemeHelperST* m_pTheme;
    HWND m_hWnd = nullptr;
    CXPStyleButtonST m_Check;
    CXPStyleButtonST m_Upgrade;
    CMyListCtrl m_List;
    CDialogThreadQueue m_Queue;
    std::unique_ptr<CListViewBridge> m_pBridge;
    std::unique_ptr<CKivOneClickDlg> m_pDlg;
    CEndSessionGuard m_EndSession;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    HFONT m_hFont = nullptr;
    SIZE m_MinimumSize{};
    bool m_bSessionEnding = false; // WM_ENDSESSION came: the controller's stop path runs
    bool m_bEnded = false;         // EndDialog was called
};
