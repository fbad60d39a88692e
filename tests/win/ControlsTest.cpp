// The owner-drawn controls in the dialog's own template, on a real display: what they paint
// (read back from the screen), how they answer the dialog manager, the mouse and the header,
// and the theme helper without its library.
#include <gtest/gtest.h>

// windows.h first: commctrl.h uses its types.
#include <windows.h>

#include <commctrl.h>

#include <memory>

#include "tests/support/WindowDriver.h"
#include "tests/win/TestDialog.h"
#include "tests/win/WindowPixels.h"
#include "win/controls/CThemeHelperST.h"

using kivtest::PumpMessagesUntil;
using kivtest::TestDialog;
using kivtest::WindowPixels;

namespace {

constexpr COLORREF RED = 0x0000FF;

class ControlsTest : public ::testing::Test {
protected:
    void Open(CThemeHelperST* theme)
    {
        m_pDialog = std::make_unique<TestDialog>(theme);
        ASSERT_TRUE(m_pDialog->Create());
        ASSERT_TRUE(PumpMessagesUntil([this] { return IsWindowVisible(m_pDialog->Hwnd()) != FALSE; }));
    }
    void Pump()
    {
        PumpMessagesUntil([] { return false; }, 50);
    }
    HWND Item(int id) const { return GetDlgItem(m_pDialog->Hwnd(), id); }
    RECT CellRect(int row, int column) const
    {
        RECT rect{};
        rect.top = column;
        rect.left = LVIR_LABEL;
        SendMessageW(Item(TestDialog::LIST_ID), LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&rect));
        if (column == 0) { // the first column's rectangle is the whole row's
            rect.right = rect.left + ListView_GetColumnWidth(Item(TestDialog::LIST_ID), 0);
        }
        return rect;
    }
    // Points the mouse at the middle of `window` (or away from it) and lets the moves arrive.
    void MoveMouse(HWND window, bool onto)
    {
        RECT rect{};
        GetWindowRect(window, &rect);
        const POINT point = onto ? POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}
                                 : POINT{rect.right + 40, rect.bottom + 40};
        SetCursorPos(point.x, point.y);
        POINT client = point;
        ScreenToClient(window, &client);
        SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
        Pump();
    }

    std::unique_ptr<TestDialog> m_pDialog;
};

} // namespace

TEST(ThemeHelper, FallsBackWhenTheLibraryOrItsEntriesAreMissing)
{
    // A library that is not there, and one that is there without any of the entries.
    for (const wchar_t* library : {L"KivNoSuchTheme.dll", L"kernel32.dll"}) {
        CThemeHelperST theme(library);
        EXPECT_EQ(theme.IsLoaded(), library[0] == L'k' && library[1] == L'e');
        EXPECT_EQ(theme.OpenThemeData(nullptr, L"BUTTON"), nullptr);
        EXPECT_EQ(theme.IsAppThemed(), FALSE);
        EXPECT_EQ(theme.IsThemeActive(), FALSE);
        const RECT rect{0, 0, 10, 10};
        HDC dc = GetDC(nullptr);
        EXPECT_EQ(theme.CloseThemeData(nullptr), E_FAIL);
        EXPECT_EQ(theme.DrawThemeBackground(nullptr, nullptr, dc, 1, 1, &rect, nullptr), E_FAIL);
        EXPECT_EQ(theme.DrawThemeText(nullptr, dc, 1, 1, L"x", 1, 0, 0, &rect), E_FAIL);
        ReleaseDC(nullptr, dc);
    }
    CThemeHelperST system;
    EXPECT_TRUE(system.IsLoaded());
}

TEST_F(ControlsTest, ButtonsAreOwnerDrawnAndKeepTheDefaultRoleAsTheFocusMoves)
{
    Open(nullptr);
    HWND check = Item(TestDialog::CHECK_ID);
    HWND upgrade = Item(TestDialog::UPGRADE_ID);
    for (HWND button : {check, upgrade})
        EXPECT_EQ(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_TRUE(m_pDialog->Check().IsDefault());
    EXPECT_FALSE(m_pDialog->Upgrade().IsDefault());
    EXPECT_NE(SendMessageW(check, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON, 0);
    EXPECT_NE(SendMessageW(upgrade, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON, 0);
    EXPECT_EQ(LOWORD(SendMessageW(m_pDialog->Hwnd(), DM_GETDEFID, 0, 0)), TestDialog::CHECK_ID);

    // The dialog hands the default role to the focused push button by changing styles; the
    // buttons stay owner-drawn and remember who has the role.
    EnableWindow(upgrade, TRUE);
    SendMessageW(m_pDialog->Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(upgrade), TRUE);
    Pump();
    EXPECT_TRUE(m_pDialog->Upgrade().IsDefault());
    EXPECT_FALSE(m_pDialog->Check().IsDefault());
    for (HWND button : {check, upgrade})
        EXPECT_EQ(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);

    // A focused button that is disabled hands the focus on to the next control.
    EnableWindow(check, TRUE);
    SendMessageW(m_pDialog->Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(check), TRUE);
    Pump();
    ASSERT_EQ(GetFocus(), check);
    EnableWindow(check, FALSE);
    EXPECT_NE(GetFocus(), check);
    EXPECT_NE(GetFocus(), nullptr);
}

TEST_F(ControlsTest, TheCaptionTurnsRedWhileTheMouseIsOverTheButton)
{
    // Themed (the system's library) and unthemed (no library): the caption colour is the
    // button's own in both.
    CThemeHelperST system;
    CThemeHelperST missing(L"KivNoSuchTheme.dll");
    for (CThemeHelperST* theme : {&system, &missing}) {
        SCOPED_TRACE(theme == &system ? "themed" : "without the theme library");
        Open(theme);
        HWND check = Item(TestDialog::CHECK_ID);
        RECT all{};
        GetClientRect(check, &all);
        EXPECT_EQ(WindowPixels(check).Count(all, WindowPixels::Reddish), 0);
        EXPECT_EQ(m_pDialog->Check().LastPaintThemed(), theme == &system && system.IsAppThemed());

        MoveMouse(check, true);
        EXPECT_TRUE(m_pDialog->Check().IsMouseOver());
        const WindowPixels hot(check);
        ASSERT_TRUE(hot.Valid());
        EXPECT_GT(hot.Count(all, WindowPixels::Reddish), 10);

        MoveMouse(check, false);
        EXPECT_TRUE(PumpMessagesUntil([this] { return !m_pDialog->Check().IsMouseOver(); }));
        EXPECT_EQ(WindowPixels(check).Count(all, WindowPixels::Reddish), 0);

        // A disabled button does not light up.
        HWND upgrade = Item(TestDialog::UPGRADE_ID);
        MoveMouse(upgrade, true);
        EXPECT_FALSE(m_pDialog->Upgrade().IsMouseOver());
        RECT upgradeRect{};
        GetClientRect(upgrade, &upgradeRect);
        EXPECT_EQ(WindowPixels(upgrade).Count(upgradeRect, WindowPixels::Reddish), 0);
        MoveMouse(upgrade, false);
        m_pDialog.reset();
    }
}

TEST_F(ControlsTest, ColourTableKeepsTheProgramsColoursAcrossASystemColourChange)
{
    Open(nullptr);
    CButtonST& button = m_pDialog->Check();
    COLORREF colour = 0;
    EXPECT_EQ(button.SetColor(6, RED, false), CButtonST::BTNST_INVALIDINDEX);
    EXPECT_EQ(button.GetColor(6, &colour), CButtonST::BTNST_INVALIDINDEX);
    EXPECT_EQ(button.OffsetColor(3, 256, false), CButtonST::BTNST_BADPARAM);
    ASSERT_EQ(button.GetColor(CButtonST::BTNST_COLOR_FG_IN, &colour), CButtonST::BTNST_OK);
    EXPECT_EQ(colour, RED);
    ASSERT_EQ(button.GetColor(CButtonST::BTNST_COLOR_BK_OUT, &colour), CButtonST::BTNST_OK);
    EXPECT_EQ(colour, GetSysColor(COLOR_BTNFACE));

    SendMessageW(m_pDialog->Check().GetHwnd(), WM_SYSCOLORCHANGE, 0, 0);
    button.GetColor(CButtonST::BTNST_COLOR_FG_IN, &colour);
    EXPECT_EQ(colour, RED);
    button.SetDefaultColors(false);
    button.GetColor(CButtonST::BTNST_COLOR_FG_IN, &colour);
    EXPECT_EQ(colour, GetSysColor(COLOR_BTNTEXT));
}

TEST_F(ControlsTest, RowsAlternateAndTheStatusTakesTheRowsColour)
{
    Open(nullptr);
    m_pDialog->FillSampleRows();
    HWND list = Item(TestDialog::LIST_ID);
    EXPECT_EQ(ListView_GetExtendedListViewStyle(list), static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT));
    const WindowPixels pixels(list);
    ASSERT_TRUE(pixels.Valid());

    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        // The background of an empty stretch of the row: the "%" cell of rows 0 and 2.
        if (row != 1) {
            const RECT percent = CellRect(row, 3);
            EXPECT_EQ(pixels.At((percent.left + percent.right) / 2, (percent.top + percent.bottom) / 2),
                      row % 2 == 0 ? 0xF9F7F0u : 0xEFE8E5u);
        }
        // The status text in the row's colour, every other column in the normal text colour.
        const bool red = TestDialog::SAMPLE_COLOURS[row] == RED;
        const auto statusColour = red ? WindowPixels::Reddish : WindowPixels::Bluish;
        EXPECT_GT(pixels.Count(CellRect(row, 4), statusColour), 5);
        for (int column = 0; column < 4; ++column) {
            EXPECT_EQ(pixels.Count(CellRect(row, column), WindowPixels::Reddish), 0) << column;
            EXPECT_EQ(pixels.Count(CellRect(row, column), WindowPixels::Bluish), 0) << column;
        }
    }
}

TEST_F(ControlsTest, TheUserCannotResizeTheColumns)
{
    Open(nullptr);
    CMyListCtrl& list = m_pDialog->List();
    list.Setup(); // again: the header stays attached once
    EXPECT_TRUE(list.IsHeaderAttached());
    HWND header = ListView_GetHeader(list.GetHwnd());
    EXPECT_EQ(CWindowSubclass::FromHandle(header), &list.GetHeaderCtrl());
    EXPECT_EQ(SendMessageW(header, WM_SETCURSOR, reinterpret_cast<WPARAM>(header), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);

    // Drag the divider after column 0 by 60 pixels, then double-click it.
    const int before = list.GetColumnWidth(0);
    RECT item{};
    Header_GetItemRect(header, 0, &item);
    const int y = (item.top + item.bottom) / 2;
    SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.right - 1, y));
    SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(item.right + 30, y));
    SendMessageW(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(item.right + 60, y));
    SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(item.right + 60, y));
    Pump();
    EXPECT_EQ(list.GetColumnWidth(0), before);
    SendMessageW(header, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(item.right - 1, y));
    SendMessageW(header, WM_LBUTTONUP, 0, MAKELPARAM(item.right - 1, y));
    Pump();
    EXPECT_EQ(list.GetColumnWidth(0), before);
}
