#pragma once

#include <windows.h>

#include <string>

#include "win/controls/CMyHeaderCtrl.h"
#include "win/controls/CWindowSubclass.h"

// Report-style list view attached to a dialog's list control (or created by Create): grid
// lines, whole-row selection, rows on two alternating background colours, and the last
// column of each row drawn in the colour held in the row's item data (0x00BBGGRR). The
// user cannot resize the columns: the dialog sizes them. The custom drawing answers the
// list's NM_CUSTOMDRAW notifications, which the parent reflects (CWindowSubclass::Reflect).
// Text is UTF-8 at this interface. Every call belongs to the list's own thread.
class CMyListCtrl : public CWindowSubclass {
public:
    static constexpr COLORREF ROW_COLOUR_EVEN = 0xF9F7F0;
    static constexpr COLORREF ROW_COLOUR_ODD = 0xEFE8E5;

    CMyListCtrl() = default;

    // Creates a report-style list window as child `id` of `parent` and attaches to it.
    bool Create(HWND parent, const RECT& rect, int id);

    // Attaches the header once and applies grid lines, full-row selection and the
    // button-face background. Runs on attaching; safe to call again.
    void Setup();
    bool IsHeaderAttached() const { return m_bHeaderAttached; }
    CMyHeaderCtrl& GetHeaderCtrl() { return m_HeaderCtrl; }

    // Appends a column; `format` is LVCFMT_CENTER or LVCFMT_LEFT. Its index, or -1.
    int InsertColumn(int column, const std::string& heading, int format, int width);
    int GetColumnCount() const;

    int GetItemCount() const;
    // Inserts a row with `text` in column 0; its index, or -1.
    int InsertItem(int row, const std::string& text);
    bool DeleteItem(int row);
    bool DeleteAllItems();
    bool SetItemText(int row, int column, const std::string& text);
    std::string GetItemText(int row, int column) const;
    // The row's status colour.
    bool SetItemData(int row, COLORREF colour);
    COLORREF GetItemData(int row) const;
    int GetColumnWidth(int column) const;
    bool SetColumnWidth(int column, int width);
    // Pixel width of `text` in the list's font.
    int GetStringWidth(const std::string& text) const;
    // The column's width after sizing it to its contents, without and with its header (the
    // column keeps that width).
    int ContentWidth(int column);
    int ContentAndHeaderWidth(int column);
    // The width the header needs to show the column's heading whole.
    int HeaderTextWidth(int column) const;

    // Background of a row: ROW_COLOUR_EVEN for even rows, ROW_COLOUR_ODD for odd ones.
    COLORREF RowColour(int row) const { return m_crRowColours[row & 1]; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnAttached() override;

private:
    LRESULT OnCustomDraw(const NMHDR* header);

    CMyHeaderCtrl m_HeaderCtrl;
    bool m_bHeaderAttached = false;
    COLORREF m_crRowColours[2] = {ROW_COLOUR_EVEN, ROW_COLOUR_ODD};
};
