#include "win/CMainDialog.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "app/CKivOneClickDlg.h"
#include "app/TimeScaleRule.h"
#include "app/WindowTitle.h"
#include "log/CDownloadLog.h"
#include "platform/CoreWarning.h"
#include "platform/WideText.h"
#include "res/Resources.h"
#include "win/CHelpCommand.h"
#include "win/CKivOneClickApp.h"
#include "win/CListViewBridge.h"
#include "win/ControllerLog.h"
#include "win/DialogLayout.h"
#include "win/WindowPlacement.h"
#include "win/controls/CThemeHelperST.h"
#include "win/controls/Dpi.h"

namespace {
constexpr uint32_t IDS_CHECK = 157;
constexpr uint32_t IDS_UPGRADE = 139;
constexpr uint32_t IDS_NO_HELP = 136;
constexpr int IDI_PROGRAM = 128;
constexpr int IDI_CHECK = 133;
constexpr int IDI_UPGRADE = 134;
constexpr COLORREF HOVER_CAPTION_COLOUR = 0x0000FF;
// Room a list-view cell leaves around its text, at 96 DPI.
constexpr int CELL_PADDING = 12;

std::wstring ModuleFileName()
{
    std::vector<wchar_t> path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            std::wstring name(path.data(), length);
            return name.substr(name.find_last_of(L"\\/") + 1);
        }
        path.resize(path.size() * 2);
    }
}

BOOL CALLBACK ForwardToChild(HWND child, LPARAM message)
{
    SendMessageW(child, static_cast<UINT>(message), 0, 0);
    return TRUE;
}
} // namespace

CMainDialog::CMainDialog(CThemeHelperST* theme)
    : m_pTheme(theme), m_Check(theme), m_Upgrade(theme), m_pBridge(std::make_unique<CListViewBridge>(m_List, m_Queue)),
      m_pDlg(std::make_unique<CKivOneClickDlg>(this))
{
    m_pDlg->SetLoopTestPath(LOOP_TEST_PATH);
    SetCoreWarningHandler([this](const std::string& text) { ShowWarning(text); });
    ControllerLog(*m_pDlg).SetFailureHandler([this](const std::string& why) { ShowLogFailure(why); });
}

CMainDialog::~CMainDialog()
{
    m_Queue.BeginClosing();
    SetCoreWarningHandler({});
    ControllerLog(*m_pDlg).SetFailureHandler({});
    m_pDlg.reset(); // joins whatever worker still runs; its calls to the view find it closing
    m_pBridge.reset();
    if (m_hFont != nullptr)
        DeleteObject(m_hFont);
    if (m_hIcon != nullptr)
        DestroyIcon(m_hIcon);
    if (m_hSmallIcon != nullptr)
        DestroyIcon(m_hSmallIcon);
}

INT_PTR CMainDialog::DoModal(HINSTANCE module)
{
    return DialogBoxParamW(module, MAKEINTRESOURCEW(IDD), nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMainDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CMainDialog*>(lParam)->m_hWnd = window;
    }
    auto* self = reinterpret_cast<CMainDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CMainDialog::Answer(LRESULT result)
{
    SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CMainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT reflected = 0;
    if (CWindowSubclass::Reflect(message, wParam, lParam, reflected))
        return Answer(reflected);
    if (m_Queue.HandleMessage(message))
        return TRUE;
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(); return TRUE;
    case CDialogThreadQueue::WM_KIV_NOTIFY:
        // While the session ends the queue is closing (no box waits for an answer), but the
        // controller still hears how its worker ends.
        if (!m_Queue.IsClosing() || (m_bSessionEnding && !m_bEnded))
            m_pDlg->OnWorkerNotify(static_cast<int>(wParam));
        SyncBusy();
        return Answer(0);
    case WM_COMMAND: return OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
    case WM_HELP: OnHelp(); return TRUE;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            Layout();
        return TRUE;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{m_MinimumSize.cx, m_MinimumSize.cy};
        return Answer(0);
    case WM_DISPLAYCHANGE: Layout(); return TRUE;
    case WM_DPICHANGED: OnDpiChanged(*reinterpret_cast<const RECT*>(lParam)); return TRUE;
    case WM_SYSCOLORCHANGE:
        // The controls follow the system's colours too.
        EnumChildWindows(m_hWnd, ForwardToChild, WM_SYSCOLORCHANGE);
        return TRUE;
    case WM_PAINT:
        if (!IsIconic(m_hWnd))
            return FALSE;
        PaintMinimized();
        return TRUE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_QUERYENDSESSION: return Answer(m_EndSession.OnQueryEndSession());
    case WM_ENDSESSION:
        if (wParam != FALSE)
            OnEndSession();
        return Answer(0);
    case WM_DESTROY:
        m_Queue.Detach();
        m_EndSession.SetBusy(false);
        return FALSE;
    default: return FALSE;
    }
}

void CMainDialog::OnInitDialog()
{
    m_Queue.Attach(m_hWnd);
    m_EndSession.SetWindow(m_hWnd);
    LoadIcons();
    m_Check.AttachDlgItem(m_hWnd, IDC_CHECK);
    m_Upgrade.AttachDlgItem(m_hWnd, IDC_UPGRADE);
    m_List.AttachDlgItem(m_hWnd, IDC_LIST);
    UpdateFont();
    m_MinimumSize =
        ScaledMinimumSize(&CKivOneClickDlg::MinimumWidth, &CKivOneClickDlg::MinimumHeight, WindowDpi(m_hWnd));
    FitFirstSize();
    SaveRestoreWindowPlacement(m_hWnd, false);
    // A time scale other than 1 is never in force unseen.
    const std::string title = BuildWindowTitle(Utf8FromWide(ModuleFileName())) + TimeScaleTitleSuffix();
    SetWindowTextW(m_hWnd, WideFromUtf8(title).c_str());
    InitButtons();
    InitColumns();
    m_pDlg->OnInitDialog();
    m_pBridge->Refresh();
}

void CMainDialog::LoadIcons()
{
    const UINT dpi = WindowDpi(m_hWnd);
    HINSTANCE module = GetModuleHandleW(nullptr);
    for (HICON* icon : {&m_hIcon, &m_hSmallIcon}) {
        if (*icon != nullptr)
            DestroyIcon(*icon);
        const bool small = icon == &m_hSmallIcon;
        const int size = GetSystemMetricsForDpi(small ? SM_CXSMICON : SM_CXICON, dpi);
        *icon = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        SendMessageW(m_hWnd, WM_SETICON, small ? ICON_SMALL : ICON_BIG, reinterpret_cast<LPARAM>(*icon));
    }
}

void CMainDialog::UpdateFont()
{
    // The desktop's message font, at this window's DPI.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, WindowDpi(m_hWnd)))
        return;
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    if (font == nullptr)
        return;
    for (int id : {IDC_CHECK, IDC_UPGRADE, IDC_LIST, IDC_SUMMARY})
        SendMessageW(GetDlgItem(m_hWnd, id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (m_hFont != nullptr)
        DeleteObject(m_hFont);
    m_hFont = font;
    m_pBridge->FontChanged();
}

void CMainDialog::InitButtons()
{
    SetWindowTextW(m_Check.GetHwnd(), WideFromUtf8(LoadStringResource(IDS_CHECK)).c_str());
    SetWindowTextW(m_Upgrade.GetHwnd(), WideFromUtf8(LoadStringResource(IDS_UPGRADE)).c_str());
    const std::pair<CXPStyleButtonST*, int> looks[] = {{&m_Check, IDI_CHECK}, {&m_Upgrade, IDI_UPGRADE}};
    for (const auto& [button, icon] : looks) {
        button->SetIcon(icon, 0);
        button->SetColor(CButtonST::BTNST_COLOR_FG_IN, HOVER_CAPTION_COLOUR, true);
    }
}

void CMainDialog::InitColumns()
{
    SendMessageW(m_List.GetHwnd(), WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < IComponentList::COLUMN_COUNT; ++i) {
        const KivColumnSpec& spec = CKivOneClickDlg::COLUMNS[i];
        const std::string ones(static_cast<size_t>(spec.widthFigure + 2), '1');
        m_List.InsertColumn(i, LoadStringResource(spec.headerId), spec.centred ? LVCFMT_CENTER : LVCFMT_LEFT,
                            m_List.GetStringWidth(ones));
    }
    SendMessageW(m_List.GetHwnd(), WM_SETREDRAW, TRUE, 0);
    m_pBridge->ColumnWidthsChanged();
}

void CMainDialog::FitFirstSize()
{
    // The template's size, widened until every column's longest text shows whole (a larger
    // font or DPI needs more); a placement saved before then takes over.
    const UINT dpi = WindowDpi(m_hWnd);
    const int padding = ScaleForDpi(CELL_PADDING, dpi);
    int client = ScaleForDpi(20, dpi) + 2 * GetSystemMetricsForDpi(SM_CXEDGE, dpi) +
                 GetSystemMetricsForDpi(SM_CXVSCROLL, dpi);
    const auto textWidth = [this](const std::string& text) { return m_List.GetStringWidth(text); };
    for (int i = 0; i < IComponentList::COLUMN_COUNT; ++i)
        client += CKivOneClickDlg::FirstSizeColumnWidth(i, textWidth, padding);
    RECT current{};
    GetClientRect(m_hWnd, &current);
    if (client <= current.right)
        return;
    RECT frame{0, 0, client, current.bottom};
    AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)), dpi);
    SetWindowPos(m_hWnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMainDialog::Layout()
{
    if (m_List.GetHwnd() == nullptr)
        return;
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const UINT dpi = WindowDpi(m_hWnd);
    // Never laid out smaller than the smallest window.
    const int width = std::max<int>(client.right, m_MinimumSize.cx);
    const int height = std::max<int>(client.bottom, m_MinimumSize.cy);
    const int summary = SummaryHeight(width - ScaleForDpi(20, dpi));
    PlaceControls(m_hWnd, ScaledLayout(&CKivOneClickDlg::ComputeLayout, width, height, dpi, summary));

    SendMessageW(m_List.GetHwnd(), WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < m_List.GetColumnCount() && i < IComponentList::COLUMN_COUNT; ++i) {
        const std::string ones(static_cast<size_t>(CKivOneClickDlg::COLUMNS[i].widthFigure + 2), '1');
        const int onesWidth = m_List.GetStringWidth(ones);
        const int contents = m_List.ContentWidth(i);
        const int contentsAndHeader = m_List.ContentAndHeaderWidth(i);
        m_List.SetColumnWidth(i, CKivOneClickDlg::FitColumnWidth(onesWidth, contents, contentsAndHeader));
    }
    SendMessageW(m_List.GetHwnd(), WM_SETREDRAW, TRUE, 0);
    m_pBridge->ColumnWidthsChanged();
    RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

bool CMainDialog::OnCommand(int id)
{
    switch (id) {
    case IDC_CHECK: m_pDlg->OnCheck(); break;
    case IDC_UPGRADE: m_pDlg->OnUpgrade(); break;
    case IDCANCEL: m_pDlg->OnCancel(); break; // Escape, the close box, Alt+F4
    default: return false;
    }
    SyncBusy();
    return true;
}

void CMainDialog::SyncBusy() { m_EndSession.SetBusy(m_pDlg->IsUpgradeRunning()); }

void CMainDialog::OnHelp()
{
    SetForegroundWindow(m_hWnd);
    if (CHelpCommand::Run(m_hWnd) == CHelpCommand::Outcome::NoFile)
        ShowWarning(LoadStringResource(IDS_NO_HELP));
}

void CMainDialog::OnDpiChanged(const RECT& suggested)
{
    SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LoadIcons();
    UpdateFont();
    m_MinimumSize =
        ScaledMinimumSize(&CKivOneClickDlg::MinimumWidth, &CKivOneClickDlg::MinimumHeight, WindowDpi(m_hWnd));
    Layout();
}

void CMainDialog::OnEndSession()
{
    // The session ends whatever the window says, and Windows may end the process as soon as
    // this returns. No box waits for an answer from now on (a worker waiting for one would
    // hold the upgrade up); the controller stops a check, or lets a running upgrade reach its
    // end (the module leaves force-load mode, the log gets its last lines), then ends the
    // dialog. Until then the messages keep flowing here.
    m_bSessionEnding = true;
    m_Queue.BeginClosing();
    m_pDlg->OnStopSignal("WM_ENDSESSION");
    MSG message;
    while (!m_bEnded) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!IsDialogMessageW(m_hWnd, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    ControllerLog(*m_pDlg).Flush();
}

void CMainDialog::PaintMinimized()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const int size = GetSystemMetricsForDpi(SM_CXICON, WindowDpi(m_hWnd));
    DrawIconEx(dc, (client.right - size + 1) / 2, (client.bottom - size + 1) / 2, m_hIcon, size, size, 0, nullptr,
               DI_NORMAL);
    EndPaint(m_hWnd, &paint);
}

void CMainDialog::RunHere(std::function<void()> task)
{
    // On the dialog thread at once: a click disables the buttons before the next message can
    // press one again.
    if (m_Queue.OnDialogThread())
        task();
    else
        m_Queue.Post(std::move(task));
}

// ---- IKivView ------------------------------------------------------------------------------

void CMainDialog::EnableButton(int controlId, bool enable)
{
    RunHere([this, controlId, enable] { EnableWindow(GetDlgItem(m_hWnd, controlId), enable ? TRUE : FALSE); });
}

void CMainDialog::FocusButton(int controlId)
{
    // Through the dialog manager, which makes the focused push button the one Return presses.
    RunHere([this, controlId] {
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hWnd, controlId)), TRUE);
    });
}

IComponentList* CMainDialog::GetList() { return &m_pBridge->Rows(); }

void CMainDialog::ShowSummary(const std::string& text)
{
    const std::wstring lines = WideFromUtf8(text);
    RunHere([this, lines] {
        HWND summary = GetDlgItem(m_hWnd, IDC_SUMMARY);
        SetWindowTextW(summary, lines.c_str());
        ShowWindow(summary, lines.empty() ? SW_HIDE : SW_SHOWNA);
        Layout();
    });
}

int CMainDialog::SummaryHeight(int width) const
{
    HWND summary = GetDlgItem(m_hWnd, IDC_SUMMARY);
    const int length = GetWindowTextLengthW(summary);
    if (summary == nullptr || length == 0 || width <= 0)
        return 0;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(summary, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    // Trailing line ends would add empty lines.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    HDC dc = GetDC(summary);
    HGDIOBJ old = SelectObject(dc, m_hFont != nullptr ? m_hFont : GetStockObject(DEFAULT_GUI_FONT));
    RECT area{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(summary, dc);
    return area.bottom;
}

int CMainDialog::ShowWarning(const std::string& text)
{
    // Before the dialog exists (a warning while the program starts) there is no dialog
    // thread to hand the box to, and no worker either: an ownerless box, here.
    if (m_hWnd == nullptr) {
        CKivOneClickApp::ShowStartupWarning(text);
        return ID_OK;
    }
    const std::wstring wide = WideFromUtf8(text);
    return m_Queue.RunAndWait([this,
                               wide] { return MessageBoxW(m_hWnd, wide.c_str(), L"Warning", MB_OK | MB_ICONWARNING); },
                              ID_OK);
}

bool CMainDialog::AskYesNo(const std::string& text)
{
    return MessageBoxW(m_hWnd, WideFromUtf8(text).c_str(), L"Warning", MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2) ==
           IDYES;
}

void CMainDialog::PostNotify(int code) { m_Queue.PostNotify(code); }

void CMainDialog::RunOnViewThread(std::function<void()> task) { m_Queue.Post(std::move(task)); }

void CMainDialog::Relayout()
{
    RunHere([this] { Layout(); });
}

void CMainDialog::BringToForeground()
{
    m_Queue.Post([this] { SetForegroundWindow(m_hWnd); });
}

void CMainDialog::EndDialog(int result)
{
    m_bEnded = true;
    // From here on a worker's warning returns at once instead of waiting for a box.
    m_Queue.BeginClosing();
    SaveRestoreWindowPlacement(m_hWnd, true);
    ::EndDialog(m_hWnd, result);
}

void CMainDialog::ShowLogFailure(const std::string& why)
{
    // Any thread, once per run. The box does not hold up the worker that logged.
    const std::wstring text = WideFromUtf8("The download log cannot be written: " + why);
    m_Queue.Post([this, text] {
        if (!m_Queue.IsClosing())
            MessageBoxW(m_hWnd, text.c_str(), L"Warning", MB_OK | MB_ICONWARNING);
    });
}
