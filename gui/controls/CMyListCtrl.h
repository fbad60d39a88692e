#pragma once

#include <QTableWidget>
#include <cstdint>
#include <string>

#include "gui/controls/CMyHeaderCtrl.h"

// Report-style list: grid lines, whole-row selection, rows on two alternating background
// colours, and the last column of each row drawn in the colour stored with the row
// (0x00BBGGRR). Columns cannot be resized by the user. Every operation belongs to the
// list's own thread.
class CMyListCtrl : public QTableWidget {
    Q_OBJECT
public:
    static constexpr uint32_t ROW_COLOUR_EVEN = 0xF9F7F0;
    static constexpr uint32_t ROW_COLOUR_ODD = 0xEFE8E5;
    // Text margins inside a cell, both sides together.
    static constexpr int CELL_PADDING = 12;

    explicit CMyListCtrl(QWidget* parent = nullptr);
    ~CMyListCtrl() override;

    // Attaches the header once and applies grid lines, full-row selection and the
    // button-face background. Safe to call again.
    void Setup();
    bool IsHeaderAttached() const { return m_bHeaderAttached; }
    CMyHeaderCtrl* GetHeaderCtrl() const { return m_pHeaderCtrl; }

    // Appends a column with its header text and alignment (Qt::AlignHCenter or AlignLeft).
    int InsertColumn(int column, const std::string& heading, Qt::Alignment alignment, int width);

    int GetItemCount() const;
    int InsertItem(int row, const std::string& text);
    bool DeleteItem(int row);
    bool DeleteAllItems();
    bool SetItemText(int row, int column, const std::string& text);
    std::string GetItemText(int row, int column) const;
    bool SetItemData(int row, uint32_t colour);
    uint32_t GetItemData(int row) const;
    int GetColumnWidth(int column) const;
    bool SetColumnWidth(int column, int width);
    int GetStringWidth(const std::string& text) const;

    // Width of the column after sizing it to its contents, without and with its header.
    int ContentWidth(int column) const;
    int ContentAndHeaderWidth(int column) const;

    // Row background (index 0 for even rows, 1 for odd ones), as 0x00BBGGRR.
    uint32_t RowColour(int row) const { return m_crRowColours[row & 1]; }
    // Colour a cell's text is drawn in: the row's item data for the last column, the
    // normal text colour (returned as nothing) for the others.
    bool CellTextColour(int row, int column, uint32_t& colour) const;

private:
    CMyHeaderCtrl* m_pHeaderCtrl; // owned by the view once attached
    bool m_bHeaderAttached = false;
    uint32_t m_crRowColours[2] = {ROW_COLOUR_EVEN, ROW_COLOUR_ODD};
    QList<Qt::Alignment> m_Alignments;
};
