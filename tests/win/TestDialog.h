#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/controls/CMyListCtrl.h"
#include "win/controls/CXPStyleButtonST.h"

class CThemeHelperST;

namespace kivtest {

// The window's dialog template (102) with the window's controls attached and no controller
// behind it: two CXPStyleButtonST and the CMyListCtrl with the five columns, laid out by the
// dialog's numbers at the window's DPI. What the control tests, the driver's tests and the
// screenshot look at. Modeless: its thread runs the messages (PumpMessagesUntil, or the
// loop of tests/win/TestWindowMain.cpp).
//
// It shows what happened to it in its title ("KIV test window - check N upgrade N help N"):
// "&Check" and "&Upgrade" count their commands; F1 (WM_HELP) counts help requests; Escape and
// the close box ask "Are you sure?" (Yes and No, No the default) and close on Yes.
class TestDialog {
public:
    static constexpr const wchar_t* TITLE_PREFIX = L"KIV test window";
    static constexpr int DIALOG_ID = 102;
    static constexpr int CHECK_ID = 1000;
    static constexpr int UPGRADE_ID = 1013;
    static constexpr int LIST_ID = 1011;

    // `theme` may be null: the buttons draw unthemed.
    explicit TestDialog(CThemeHelperST* theme);
    ~TestDialog();
    TestDialog(const TestDialog&) = delete;
    TestDialog& operator=(const TestDialog&) = delete;

    // Registers the dialog's window class and makes the dialog, visible. False when it
    // cannot be made.
    bool Create();
    HWND Hwnd() const { return m_hWnd; }
    bool IsOpen() const { return m_hWnd != nullptr && IsWindow(m_hWnd); }

    CXPStyleButtonST& Check() { return m_Check; }
    CXPStyleButtonST& Upgrade() { return m_Upgrade; }
    CMyListCtrl& List() { return m_List; }

    // Rows as a finished check shows them: blue "will be upgraded" rows, a red mismatch.
    void FillSampleRows();
    // The rows' status texts and colours, in order.
    static const wchar_t* const SAMPLE_STATUS[3];
    static const COLORREF SAMPLE_COLOURS[3];

    int CheckCount() const { return m_nChecks; }
    int UpgradeCount() const { return m_nUpgrades; }
    int HelpCount() const { return m_nHelps; }

    // Places the controls for the current client size and DPI.
    void Layout();

    // Messages the test dialog has no use for go here (true: handled).
    std::function<bool(UINT message)> m_OtherMessages;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void ShowCounts();

    CThemeHelperST* m_pTheme;
    HWND m_hWnd = nullptr;
    CXPStyleButtonST m_Check;
    CXPStyleButtonST m_Upgrade;
    CMyListCtrl m_List;
    int m_nChecks = 0;
    int m_nUpgrades = 0;
    int m_nHelps = 0;
};

} // namespace kivtest
