#include "win/controls/CButtonST.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "win/controls/Dpi.h"

namespace {
// Space between the button's edge and its icon, at 96 DPI.
constexpr int ICON_MARGIN = 6;
// The focus rectangle lies this far inside the button's edge, at 96 DPI.
constexpr int FOCUS_INSET = 3;

COLORREF OffsetChannels(COLORREF colour, int offset)
{
    auto channel = [offset](int value) { return static_cast<BYTE>(std::clamp(value + offset, 0, 255)); };
    return RGB(channel(GetRValue(colour)), channel(GetGValue(colour)), channel(GetBValue(colour)));
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour)
{
    const COLORREF old = SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    SetBkColor(dc, old);
}

SIZE IconSize(HICON icon)
{
    SIZE size{};
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info))
        return size;
    BITMAP bitmap{};
    if (info.hbmColor != nullptr && GetObjectW(info.hbmColor, sizeof bitmap, &bitmap) != 0) {
        size = {bitmap.bmWidth, bitmap.bmHeight};
    } else if (info.hbmMask != nullptr && GetObjectW(info.hbmMask, sizeof bitmap, &bitmap) != 0) {
        size = {bitmap.bmWidth, bitmap.bmHeight / 2}; // a monochrome icon: mask and image stacked
    }
    if (info.hbmColor != nullptr)
        DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr)
        DeleteObject(info.hbmMask);
    return size;
}

std::wstring WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    return std::wstring(text.data(), static_cast<size_t>(std::max(copied, 0)));
}
} // namespace

CButtonST::CButtonST() { SetDefaultColors(false); }

CButtonST::~CButtonST()
{
    if (m_hTooltip != nullptr)
        DestroyWindow(m_hTooltip);
    FreeIcons();
    if (m_hCursor != nullptr)
        DestroyCursor(m_hCursor);
    if (m_hMenu != nullptr)
        DestroyMenu(m_hMenu);
}

void CButtonST::OnAttached()
{
    // The dialog's button becomes owner-drawn; whether it is a checkbox or the default
    // button is remembered, since the owner-draw style has room for neither.
    const LONG_PTR style = GetWindowLongPtrW(GetHwnd(), GWL_STYLE);
    const LONG_PTR type = style & BS_TYPEMASK;
    m_bIsCheckBox = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
    m_bIsDefault = type == BS_DEFPUSHBUTTON;
    SetWindowLongPtrW(GetHwnd(), GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    UpdateTooltip();
    Repaint();
}

int CButtonST::Scaled(int pixels) const { return ScaleForDpi(pixels, WindowDpi(GetHwnd())); }

void CButtonST::Repaint()
{
    if (GetHwnd() != nullptr)
        InvalidateRect(GetHwnd(), nullptr, FALSE);
}

// ---- colours ---------------------------------------------------------------------------------

void CButtonST::SetDefaultColors(bool repaint)
{
    for (int i = 0; i < BTNST_MAX_COLORS; ++i)
        m_crColors[i] = GetSysColor(i % 2 == 0 ? COLOR_BTNFACE : COLOR_BTNTEXT);
    m_nCustomColors = 0;
    if (repaint)
        Repaint();
}

int CButtonST::SetColor(int index, COLORREF colour, bool repaint)
{
    if (index < 0 || index >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    m_crColors[index] = colour;
    m_nCustomColors |= 1u << index;
    if (repaint)
        Repaint();
    return BTNST_OK;
}

int CButtonST::GetColor(int index, COLORREF* colour) const
{
    if (index < 0 || index >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    if (colour != nullptr)
        *colour = m_crColors[index];
    return BTNST_OK;
}

int CButtonST::OffsetColor(int index, int offset, bool repaint)
{
    if (index < 0 || index >= BTNST_MAX_COLORS)
        return BTNST_INVALIDINDEX;
    if (offset < -255 || offset > 255)
        return BTNST_BADPARAM;
    return SetColor(index, OffsetChannels(m_crColors[index], offset), repaint);
}

// ---- looks -------------------------------------------------------------------------------------

HICON CButtonST::LoadIconScaled(int id, HINSTANCE module, SIZE& size) const
{
    // The icon's own size first, then the icon again at that size for this DPI.
    auto icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
    size = IconSize(icon);
    const UINT dpi = WindowDpi(GetHwnd());
    if (icon == nullptr || dpi == BASE_DPI)
        return icon;
    const SIZE scaled{ScaleForDpi(size.cx, dpi), ScaleForDpi(size.cy, dpi)};
    auto large =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, scaled.cx, scaled.cy, LR_DEFAULTCOLOR));
    if (large == nullptr)
        return icon;
    DestroyIcon(icon);
    size = scaled;
    return large;
}

void CButtonST::FreeIcons()
{
    if (m_hIconIn != nullptr)
        DestroyIcon(m_hIconIn);
    if (m_hIconOut != nullptr)
        DestroyIcon(m_hIconOut);
    m_hIconIn = m_hIconOut = nullptr;
    m_IconInSize = m_IconOutSize = SIZE{};
}

bool CButtonST::SetIcon(int iconIn, int iconOut, HINSTANCE module)
{
    if (module == nullptr)
        module = GetModuleHandleW(nullptr);
    m_nIconInId = iconIn;
    m_nIconOutId = iconOut;
    m_hIconModule = module;
    FreeIcons();
    bool loaded = true;
    if (iconIn != 0) {
        m_hIconIn = LoadIconScaled(iconIn, module, m_IconInSize);
        loaded = m_hIconIn != nullptr;
    }
    if (iconOut != 0) {
        m_hIconOut = LoadIconScaled(iconOut, module, m_IconOutSize);
        loaded = loaded && m_hIconOut != nullptr;
    }
    Repaint();
    return loaded;
}

void CButtonST::SetFlat(bool flat, bool repaint)
{
    m_bIsFlat = flat;
    if (!flat)
        m_bMouseOnButton = false;
    if (repaint)
        Repaint();
}

void CButtonST::DrawBorder(bool enable, bool repaint)
{
    m_bDrawBorder = enable;
    if (repaint)
        Repaint();
}

void CButtonST::SetPressedStyle(int style, bool repaint)
{
    m_ptPressedOffset = style == 1 ? POINT{0, 2} : POINT{1, 1};
    if (repaint)
        Repaint();
}

void CButtonST::SetCheck(bool checked, bool repaint)
{
    m_bChecked = m_bIsCheckBox && checked;
    if (repaint)
        Repaint();
}

bool CButtonST::SetBtnCursor(int cursorId, HINSTANCE module)
{
    if (m_hCursor != nullptr)
        DestroyCursor(m_hCursor);
    m_hCursor = nullptr;
    if (cursorId == 0)
        return true;
    m_hCursor = static_cast<HCURSOR>(LoadImageW(module != nullptr ? module : GetModuleHandleW(nullptr),
                                                MAKEINTRESOURCEW(cursorId), IMAGE_CURSOR, 0, 0, LR_DEFAULTCOLOR));
    return m_hCursor != nullptr;
}

void CButtonST::SetMenu(HMENU menu, HWND owner)
{
    if (m_hMenu != nullptr && m_hMenu != menu)
        DestroyMenu(m_hMenu);
    m_hMenu = menu;
    m_hMenuOwner = owner;
}

int CButtonST::SetURL(const std::wstring& url)
{
    if (url.size() > MAX_URL)
        return BTNST_BADPARAM;
    m_strUrl = url;
    return BTNST_OK;
}

void CButtonST::SetTooltipText(const std::wstring& text)
{
    m_strTooltip = text;
    UpdateTooltip();
}

void CButtonST::UpdateTooltip()
{
    if (GetHwnd() == nullptr || (m_strTooltip.empty() && m_hTooltip == nullptr))
        return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(GetHwnd());
    tool.uId = reinterpret_cast<UINT_PTR>(GetHwnd());
    tool.lpszText = const_cast<LPWSTR>(m_strTooltip.c_str());
    if (m_hTooltip == nullptr) {
        m_hTooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, GetHwnd(), nullptr, nullptr, nullptr);
        if (m_hTooltip == nullptr)
            return;
        SendMessageW(m_hTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    SendMessageW(m_hTooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_hTooltip, TTM_ACTIVATE, m_strTooltip.empty() ? FALSE : TRUE, 0);
}

// ---- painting ------------------------------------------------------------------------------------

void CButtonST::DrawItem(const DRAWITEMSTRUCT& item)
{
    const RECT& target = item.rcItem;
    const int width = target.right - target.left;
    const int height = target.bottom - target.top;
    if (width <= 0 || height <= 0)
        return;
    PaintState state;
    state.pressed = (item.itemState & ODS_SELECTED) != 0 || (m_bIsCheckBox && m_bChecked);
    state.focused = (item.itemState & ODS_FOCUS) != 0;
    state.disabled = (item.itemState & ODS_DISABLED) != 0;
    state.hot = m_bMouseOnButton && !state.disabled;

    // Drawn off-screen and copied in one piece, so that hovering does not flicker.
    HDC dc = CreateCompatibleDC(item.hDC);
    HBITMAP bitmap = CreateCompatibleBitmap(item.hDC, width, height);
    if (dc == nullptr || bitmap == nullptr) {
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        if (dc != nullptr)
            DeleteDC(dc);
        return;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    auto font = reinterpret_cast<HFONT>(SendMessageW(GetHwnd(), WM_GETFONT, 0, 0));
    HGDIOBJ oldFont = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));

    RECT rect{0, 0, width, height};
    OnDrawBackground(dc, rect, state);
    OnDrawBorder(dc, rect, state);
    RECT captionRect = rect;
    DrawTheIcon(dc, rect, state, captionRect);
    DrawTheText(dc, captionRect, state);
    // A focused button shows where the keyboard is whenever the dialog shows keyboard cues,
    // flat or not: Return and Space press the focused button.
    if (state.focused && (!m_bIsFlat || FocusCuesShown())) {
        RECT focus{0, 0, width, height};
        InflateRect(&focus, -Scaled(FOCUS_INSET), -Scaled(FOCUS_INSET));
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        DrawFocusRect(dc, &focus);
    }

    BitBlt(item.hDC, target.left, target.top, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

bool CButtonST::FocusCuesShown() const
{
    const LRESULT uiState = SendMessageW(GetHwnd(), WM_QUERYUISTATE, 0, 0);
    return (uiState & UISF_HIDEFOCUS) == 0;
}

void CButtonST::OnDrawBackground(HDC dc, RECT& rect, const PaintState& state)
{
    if (!m_bIsFlat && (state.focused || m_bIsDefault)) {
        HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        FrameRect(dc, &rect, black);
        InflateRect(&rect, -1, -1);
    }
    int index = BTNST_COLOR_BK_OUT;
    if (state.hot || state.pressed)
        index = BTNST_COLOR_BK_IN;
    else if (state.focused)
        index = BTNST_COLOR_BK_FOCUS;
    FillSolid(dc, rect, Color(index));
}

void CButtonST::OnDrawBorder(HDC dc, const RECT& rect, const PaintState& state)
{
    RECT edge = rect;
    if (!m_bIsFlat) {
        if (state.pressed) {
            HBRUSH shadow = GetSysColorBrush(COLOR_BTNSHADOW);
            FrameRect(dc, &edge, shadow);
        } else {
            // Highlight and 3-D light at top and left, dark shadow and shadow at bottom and right.
            DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
        }
        return;
    }
    if (!m_bDrawBorder)
        return;
    if (state.pressed)
        DrawEdge(dc, &edge, BDR_SUNKENOUTER, BF_RECT);
    else if (state.hot)
        DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);
}

void CButtonST::DrawTheIcon(HDC dc, const RECT& rect, const PaintState& state, RECT& captionRect) const
{
    const bool in = state.hot || state.pressed || m_hIconOut == nullptr;
    HICON icon = in ? m_hIconIn : m_hIconOut;
    const SIZE size = in ? m_IconInSize : m_IconOutSize;
    if (icon == nullptr)
        return;
    const int margin = Scaled(ICON_MARGIN);
    int x = rect.left + margin;
    int y = rect.top + (rect.bottom - rect.top - size.cy) / 2;
    if (state.pressed) {
        x += m_ptPressedOffset.x;
        y += m_ptPressedOffset.y;
    }
    if (state.disabled)
        DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y, size.cx, size.cy,
                   DST_ICON | DSS_DISABLED);
    else
        DrawIconEx(dc, x, y, icon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
    // The caption is centred in what the icon leaves.
    captionRect.left = std::min(rect.left + margin + size.cx, captionRect.right);
}

void CButtonST::DrawTheText(HDC dc, const RECT& rect, const PaintState& state) const
{
    const std::wstring caption = WindowText(GetHwnd());
    if (caption.empty())
        return;
    UINT format = DT_WORDBREAK | DT_CENTER;
    if ((SendMessageW(GetHwnd(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL) != 0)
        format |= DT_HIDEPREFIX;
    // Centred vertically: the wrapped caption's height first.
    RECT measured = rect;
    DrawTextW(dc, caption.c_str(), -1, &measured, format | DT_CALCRECT);
    RECT textRect = rect;
    textRect.top += std::max(0L, ((rect.bottom - rect.top) - (measured.bottom - measured.top)) / 2);
    if (state.pressed)
        OffsetRect(&textRect, m_ptPressedOffset.x, m_ptPressedOffset.y);

    SetBkMode(dc, TRANSPARENT);
    if (state.disabled) {
        RECT raised = textRect;
        OffsetRect(&raised, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
        DrawTextW(dc, caption.c_str(), -1, &raised, format);
        SetTextColor(dc, GetSysColor(COLOR_3DSHADOW));
        DrawTextW(dc, caption.c_str(), -1, &textRect, format);
        return;
    }
    int index = BTNST_COLOR_FG_OUT;
    if (state.hot || state.pressed)
        index = BTNST_COLOR_FG_IN;
    else if (state.focused)
        index = BTNST_COLOR_FG_FOCUS;
    SetTextColor(dc, Color(index));
    DrawTextW(dc, caption.c_str(), -1, &textRect, format);
}

// ---- mouse and keyboard ------------------------------------------------------------------------

void CButtonST::SetMouseOver(bool over)
{
    if (m_bMouseOnButton == over)
        return;
    m_bMouseOnButton = over;
    Repaint();
}

void CButtonST::OnMouseMove(WPARAM keys, LPARAM position)
{
    if (!m_bIsFlat)
        return;
    // Dragging onto the button with the left button held does not make it hot.
    if ((keys & MK_LBUTTON) != 0 && !m_bMouseOnButton)
        return;
    POINT point{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ClientToScreen(GetHwnd(), &point);
    const bool over = WindowFromPoint(point) == GetHwnd() && (m_bAlwaysTrack || GetActiveWindow() != nullptr);
    if (!over) {
        SetMouseOver(false);
        return;
    }
    if (m_bMouseOnButton)
        return;
    SetMouseOver(true);
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = GetHwnd();
    TrackMouseEvent(&track);
}

void CButtonST::OnEnable(bool enabled)
{
    if (enabled)
        return;
    SetMouseOver(false);
    // A button that had the focus has lost it to nothing by now; the focus goes on to the
    // next control of the dialog rather than nowhere.
    HWND dialog = GetParent(GetHwnd());
    if (GetFocus() == nullptr && GetActiveWindow() == dialog) {
        HWND next = GetNextDlgTabItem(dialog, GetHwnd(), FALSE);
        SetFocus(next != nullptr && next != GetHwnd() ? next : dialog);
    }
}

bool CButtonST::OnClicked()
{
    SetFocus(GetHwnd());
    if (m_bIsCheckBox) {
        m_bChecked = !m_bChecked;
        Repaint();
        return false;
    }
    if (m_hMenu != nullptr) {
        RECT rect{};
        GetWindowRect(GetHwnd(), &rect);
        const UINT command = static_cast<UINT>(TrackPopupMenuEx(m_hMenu, TPM_LEFTALIGN | TPM_RETURNCMD | TPM_NONOTIFY,
                                                                rect.left, rect.bottom, GetHwnd(), nullptr));
        if (command != 0 && m_hMenuOwner != nullptr)
            PostMessageW(m_hMenuOwner, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        return true;
    }
    if (!m_strUrl.empty()) {
        ShellExecuteW(nullptr, L"open", m_strUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return true;
    }
    return false;
}

LRESULT CButtonST::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case REFLECT_BASE + WM_DRAWITEM:
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        SetReflectHandled();
        return TRUE;
    case REFLECT_BASE + WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && OnClicked()) {
            SetReflectHandled();
            return 0;
        }
        return 0;
    case WM_GETDLGCODE: {
        LRESULT code = Default(message, wParam, lParam) & ~(DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
        return code | (m_bIsDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
    case BM_SETSTYLE:
        // The dialog moves the default-button role with the focus by changing the button's
        // style: keep the role, and the owner-draw style.
        m_bIsDefault = (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        Default(message, (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW, lParam);
        Repaint();
        return 0;
    case BM_SETCHECK:
        if (!m_bIsCheckBox)
            break;
        SetCheck(wParam == BST_CHECKED);
        return 0;
    case BM_GETCHECK:
        if (!m_bIsCheckBox)
            break;
        return m_bChecked ? BST_CHECKED : BST_UNCHECKED;
    case WM_DPICHANGED_AFTERPARENT:
        // The icons again, at the size for the new DPI.
        if (m_nIconInId != 0 || m_nIconOutId != 0)
            SetIcon(m_nIconInId, m_nIconOutId, m_hIconModule);
        break;
    case WM_LBUTTONDBLCLK:
        // A double click is two presses, as on an ordinary push button.
        return Default(WM_LBUTTONDOWN, wParam, lParam);
    case WM_MOUSEMOVE: OnMouseMove(wParam, lParam); break;
    case WM_MOUSELEAVE:
    case WM_CANCELMODE: SetMouseOver(false); break;
    case WM_KILLFOCUS: {
        const LRESULT result = Default(message, wParam, lParam);
        SetMouseOver(false);
        return result;
    }
    case WM_ENABLE: {
        const LRESULT result = Default(message, wParam, lParam);
        OnEnable(wParam != FALSE);
        return result;
    }
    case WM_SETCURSOR:
        if (m_hCursor != nullptr) {
            SetCursor(m_hCursor);
            return TRUE;
        }
        break;
    case WM_SYSCOLORCHANGE:
        // Colours the program never set follow the system.
        for (int i = 0; i < BTNST_MAX_COLORS; ++i) {
            if ((m_nCustomColors & (1u << i)) == 0)
                m_crColors[i] = GetSysColor(i % 2 == 0 ? COLOR_BTNFACE : COLOR_BTNTEXT);
        }
        Repaint();
        break;
    case WM_UPDATEUISTATE:
    case WM_THEMECHANGED: {
        const LRESULT result = Default(message, wParam, lParam);
        Repaint();
        return result;
    }
    default: break;
    }
    return Default(message, wParam, lParam);
}
