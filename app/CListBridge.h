#pragma once

#include <QPointer>
#include <array>
#include <mutex>
#include <string>
#include <vector>

#include "engine/IComponentList.h"

class CMyListCtrl;

// The component list as the workers see it. Every change is applied at once to a copy of
// the rows kept here (so reads answer at once from any thread) and handed to the list
// window on its own thread as a queued call, in the order made. No call waits for the
// window's thread. After Detach() changes only reach the copy.
class CListBridge : public IComponentList {
public:
    explicit CListBridge(CMyListCtrl* list);
    ~CListBridge() override;

    void Detach();

    int GetItemCount() const override;
    int InsertItem(int row, const std::string& text) override;
    bool DeleteItem(int row) override;
    bool DeleteAllItems() override;
    bool SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) const override;
    bool SetItemData(int row, uint32_t colour) override;
    uint32_t GetItemData(int row) const override;
    int GetColumnWidth(int column) const override;
    bool SetColumnWidth(int column, int width) override;
    int GetStringWidth(const std::string& text) const override;

    // The list window's column widths changed (view thread).
    void ColumnWidthsChanged(const std::array<int, COLUMN_COUNT>& widths);

private:
    struct Row {
        std::array<std::string, COLUMN_COUNT> texts;
        uint32_t colour = 0;
    };

    template <typename F>
    void Post(F&& change);
    bool IsRow(int row) const { return row >= 0 && row < static_cast<int>(m_Rows.size()); }

    mutable std::mutex m_Lock;
    CMyListCtrl* m_pList; // cleared by Detach() before the window goes
    std::vector<Row> m_Rows;
    std::array<int, COLUMN_COUNT> m_Widths{};
    // Advances of the printable ASCII characters in the list's font, measured on the
    // window's thread, so that workers can measure text without touching the font.
    std::array<double, 95> m_Advances{};
    double m_dWideAdvance = 0;
};
