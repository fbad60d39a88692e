#include "win/controls/CMyListCtrl.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "platform/WideText.h"
#include "win/controls/Dpi.h"

namespace {
// Exactly grid lines and whole-row selection.
constexpr DWORD LIST_EXTENDED_STYLE = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
// Longest cell text read back.
constexpr int MAX_CELL_TEXT = 1024;
} // namespace

bool CMyListCtrl::Create(HWND parent, const RECT& rect, int id)
{
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOSORTHEADER | LVS_SHOWSELALWAYS,
                                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (list == nullptr)
        return false;
    if (!Attach(list)) {
        DestroyWindow(list);
        return false;
    }
    return true;
}

void CMyListCtrl::OnAttached() { Setup(); }

void CMyListCtrl::Setup()
{
    if (GetHwnd() == nullptr)
        return;
    if (!m_bHeaderAttached) {
        HWND header = ListView_GetHeader(GetHwnd());
        if (header != nullptr && m_HeaderCtrl.Attach(header))
            m_bHeaderAttached = true;
    }
    ListView_SetExtendedListViewStyleEx(GetHwnd(), 0, LIST_EXTENDED_STYLE);
    ListView_SetBkColor(GetHwnd(), GetSysColor(COLOR_BTNFACE));
}

int CMyListCtrl::InsertColumn(int column, const std::string& heading, int format, int width)
{
    std::wstring text = WideFromUtf8(heading);
    LVCOLUMNW spec{};
    spec.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    spec.fmt = format;
    spec.cx = width;
    spec.pszText = text.data();
    spec.iSubItem = column;
    return static_cast<int>(
        SendMessageW(GetHwnd(), LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&spec)));
}

int CMyListCtrl::GetColumnCount() const
{
    HWND header = ListView_GetHeader(GetHwnd());
    return header != nullptr ? Header_GetItemCount(header) : 0;
}

int CMyListCtrl::GetItemCount() const { return ListView_GetItemCount(GetHwnd()); }

int CMyListCtrl::InsertItem(int row, const std::string& text)
{
    std::wstring wide = WideFromUtf8(text);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = wide.data();
    item.lParam = 0;
    return static_cast<int>(SendMessageW(GetHwnd(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CMyListCtrl::DeleteItem(int row) { return ListView_DeleteItem(GetHwnd(), row) != FALSE; }

bool CMyListCtrl::DeleteAllItems() { return ListView_DeleteAllItems(GetHwnd()) != FALSE; }

bool CMyListCtrl::SetItemText(int row, int column, const std::string& text)
{
    if (row < 0 || row >= GetItemCount() || column < 0 || column >= GetColumnCount())
        return false;
    std::wstring wide = WideFromUtf8(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    return SendMessageW(GetHwnd(), LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) !=
           FALSE;
}

std::string CMyListCtrl::GetItemText(int row, int column) const
{
    std::vector<wchar_t> buffer(MAX_CELL_TEXT, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = MAX_CELL_TEXT;
    const auto length = static_cast<size_t>(
        SendMessageW(GetHwnd(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    return Utf8FromWide(buffer.data(), std::min(length, buffer.size() - 1));
}

bool CMyListCtrl::SetItemData(int row, COLORREF colour)
{
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = static_cast<LPARAM>(colour);
    if (SendMessageW(GetHwnd(), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)) == FALSE)
        return false;
    // The status cell shows the new colour at once.
    ListView_RedrawItems(GetHwnd(), row, row);
    return true;
}

COLORREF CMyListCtrl::GetItemData(int row) const
{
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (SendMessageW(GetHwnd(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) == FALSE)
        return 0;
    return static_cast<COLORREF>(item.lParam);
}

int CMyListCtrl::GetColumnWidth(int column) const { return ListView_GetColumnWidth(GetHwnd(), column); }

bool CMyListCtrl::SetColumnWidth(int column, int width)
{
    return ListView_SetColumnWidth(GetHwnd(), column, width) != FALSE;
}

int CMyListCtrl::GetStringWidth(const std::string& text) const
{
    const std::wstring wide = WideFromUtf8(text);
    return static_cast<int>(SendMessageW(GetHwnd(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(wide.c_str())));
}

int CMyListCtrl::ContentWidth(int column)
{
    ListView_SetColumnWidth(GetHwnd(), column, LVSCW_AUTOSIZE);
    return GetColumnWidth(column);
}

int CMyListCtrl::ContentAndHeaderWidth(int column)
{
    ListView_SetColumnWidth(GetHwnd(), column, LVSCW_AUTOSIZE_USEHEADER);
    // Some list-views leave less room than the header draws its text in; never so little
    // that the header's text is cut short.
    const int header = HeaderTextWidth(column);
    if (GetColumnWidth(column) < header)
        ListView_SetColumnWidth(GetHwnd(), column, header);
    return GetColumnWidth(column);
}

int CMyListCtrl::HeaderTextWidth(int column) const
{
    HWND header = ListView_GetHeader(GetHwnd());
    wchar_t text[MAX_CELL_TEXT] = {};
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = MAX_CELL_TEXT;
    if (header == nullptr || !Header_GetItem(header, column, &item))
        return 0;
    HDC dc = GetDC(header);
    if (dc == nullptr)
        return 0;
    auto font = reinterpret_cast<HFONT>(SendMessageW(header, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    SelectObject(dc, old);
    ReleaseDC(header, dc);
    // The header keeps three edges' width free on either side of its text.
    const int margin = 3 * GetSystemMetricsForDpi(SM_CXEDGE, WindowDpi(header));
    return size.cx + 2 * margin + 2 * GetSystemMetricsForDpi(SM_CXBORDER, WindowDpi(header));
}

LRESULT CMyListCtrl::OnCustomDraw(const NMHDR* header)
{
    auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(header));
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        draw->clrTextBk = RowColour(static_cast<int>(draw->nmcd.dwItemSpec));
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        // Set for every cell: what one cell sets, the list keeps for the cells after it.
        draw->clrTextBk = RowColour(static_cast<int>(draw->nmcd.dwItemSpec));
        const bool status = draw->iSubItem + 1 == GetColumnCount();
        draw->clrText = status ? static_cast<COLORREF>(draw->nmcd.lItemlParam) : ListView_GetTextColor(GetHwnd());
        return CDRF_DODEFAULT;
    }
    default: return CDRF_DODEFAULT;
    }
}

LRESULT CMyListCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case REFLECT_BASE + WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code != NM_CUSTOMDRAW)
            return 0;
        SetReflectHandled();
        return OnCustomDraw(header);
    }
    case WM_NOTIFY: {
        // The header's begin-track notice, in either text form: refused, so no divider
        // can be dragged.
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == HDN_BEGINTRACKA || header->code == HDN_BEGINTRACKW)
            return TRUE;
        break;
    }
    case WM_SYSCOLORCHANGE: {
        const LRESULT result = Default(message, wParam, lParam);
        ListView_SetBkColor(GetHwnd(), GetSysColor(COLOR_BTNFACE));
        return result;
    }
    default: break;
    }
    return Default(message, wParam, lParam);
}
