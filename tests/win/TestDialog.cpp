#include "tests/win/TestDialog.h"

#include <commctrl.h>

#include <string>

#include "platform/WideText.h"
#include "win/CSingleInstance.h"
#include "win/DialogLayout.h"
#include "win/controls/CThemeHelperST.h"
#include "win/controls/Dpi.h"

namespace kivtest {

namespace {

// The dialog's layout numbers at 96 DPI, written out here rather than taken from the
// controller: two 200 x 50 buttons at y = 6, a third of the spare width around them, the list
// below.
KivLayout TestLayout(int width, int height, int /*summaryHeight*/)
{
    const int gap = (width - 400) / 3;
    return KivLayout{{gap, 6, 200, 50}, {2 * gap + 200, 6, 200, 50}, {10, 62, width - 20, height - 68}, {}};
}

struct Column {
    const char* header;
    int format;
    int characters;
};
const Column COLUMNS[] = {{"Type", LVCFMT_CENTER, 16},
                          {"Current Version", LVCFMT_CENTER, 15},
                          {"Upgrade Version", LVCFMT_CENTER, 15},
                          {"%", LVCFMT_CENTER, 4},
                          {"Status", LVCFMT_LEFT, 20}};

} // namespace

const wchar_t* const TestDialog::SAMPLE_STATUS[3] = {L"Waiting for the upgrade", L"Download successfully (00:12)",
                                                     L"Version mismatch"};
const COLORREF TestDialog::SAMPLE_COLOURS[3] = {0xFF0000, 0xFF0000, 0x0000FF};

TestDialog::TestDialog(CThemeHelperST* theme) : m_pTheme(theme), m_Check(theme), m_Upgrade(theme) {}

TestDialog::~TestDialog()
{
    if (IsOpen())
        DestroyWindow(m_hWnd);
}

bool TestDialog::Create()
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    if (!CSingleInstance::RegisterDialogClass(module))
        return false;
    m_hWnd =
        CreateDialogParamW(module, MAKEINTRESOURCEW(DIALOG_ID), nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
    return m_hWnd != nullptr;
}

INT_PTR CALLBACK TestDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<TestDialog*>(lParam)->m_hWnd = window;
    }
    auto* self = reinterpret_cast<TestDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR TestDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT reflected = 0;
    if (CWindowSubclass::Reflect(message, wParam, lParam, reflected)) {
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, reflected);
        return TRUE;
    }
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(); return TRUE;
    case WM_SIZE: Layout(); return TRUE;
    case WM_HELP:
        ++m_nHelps;
        ShowCounts();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case CHECK_ID:
            ++m_nChecks;
            ShowCounts();
            return TRUE;
        case UPGRADE_ID:
            ++m_nUpgrades;
            ShowCounts();
            return TRUE;
        case IDCANCEL:
            if (MessageBoxW(m_hWnd, L"Are you sure?", L"Warning", MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2) ==
                IDYES)
                DestroyWindow(m_hWnd);
            return TRUE;
        default: return FALSE;
        }
    case WM_DESTROY: m_hWnd = nullptr; return FALSE;
    default: return m_OtherMessages && m_OtherMessages(message) ? TRUE : FALSE;
    }
}

void TestDialog::OnInitDialog()
{
    m_Check.AttachDlgItem(m_hWnd, CHECK_ID);
    m_Upgrade.AttachDlgItem(m_hWnd, UPGRADE_ID);
    m_List.AttachDlgItem(m_hWnd, LIST_ID);
    for (CXPStyleButtonST* button : {&m_Check, &m_Upgrade}) {
        button->SetIcon(button == &m_Check ? 133 : 134, 0);
        button->SetColor(CButtonST::BTNST_COLOR_FG_IN, 0x0000FF, true);
    }
    const UINT dpi = WindowDpi(m_hWnd);
    for (int i = 0; i < 5; ++i) {
        const int ones = m_List.GetStringWidth(std::string(static_cast<size_t>(COLUMNS[i].characters + 2), '1'));
        m_List.InsertColumn(i, COLUMNS[i].header, COLUMNS[i].format, ones + ScaleForDpi(12, dpi));
    }
    // Wide enough for the rows, as the dialog's first layout makes it.
    SetWindowPos(m_hWnd, nullptr, 0, 0, ScaleForDpi(900, dpi), ScaleForDpi(330, dpi), SWP_NOMOVE | SWP_NOZORDER);
    ShowCounts();
    Layout();
}

void TestDialog::Layout()
{
    if (m_List.GetHwnd() == nullptr)
        return;
    RECT client{};
    GetClientRect(m_hWnd, &client);
    PlaceControls(m_hWnd, ScaledLayout(TestLayout, client.right, client.bottom, WindowDpi(m_hWnd)));
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void TestDialog::FillSampleRows()
{
    const char* const types[3] = {"BOOT of router module", "APP of router module", "Firmware of wireless module"};
    const char* const current[3] = {"1.0.0", "2.0.4", "3.1"};
    const char* const upgrade[3] = {"1.0.1", "2.1.0", "3.2"};
    m_List.DeleteAllItems();
    for (int row = 0; row < 3; ++row) {
        m_List.InsertItem(row, types[row]);
        m_List.SetItemText(row, 1, current[row]);
        m_List.SetItemText(row, 2, upgrade[row]);
        m_List.SetItemText(row, 3, row == 1 ? "100" : "");
        m_List.SetItemText(row, 4, Utf8FromWide(SAMPLE_STATUS[row]));
        m_List.SetItemData(row, SAMPLE_COLOURS[row]);
    }
    for (int column = 0; column < 5; ++column)
        m_List.ContentAndHeaderWidth(column);
}

void TestDialog::ShowCounts()
{
    const std::wstring title = std::wstring(TITLE_PREFIX) + L" - check " + std::to_wstring(m_nChecks) + L" upgrade " +
                               std::to_wstring(m_nUpgrades) + L" help " + std::to_wstring(m_nHelps);
    SetWindowTextW(m_hWnd, title.c_str());
}

} // namespace kivtest
