#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/IComponentList.h"

// The component list's rows, held once: the command line and tests use it directly, and the
// window's list shows a copy refreshed from it. Every call may come from any thread. Text
// width comes from the measuring function given at construction (it must be callable from
// any thread); without one it is 8 pixels per character.
class CListModel : public IComponentList {
public:
    static constexpr int PIXELS_PER_CHAR = 8;

    // Pixel width of a UTF-8 text.
    using TextMeasure = std::function<int(const std::string& text)>;

    struct Row {
        std::array<std::string, COLUMN_COUNT> texts;
        uint32_t colour = 0;
    };

    // Called after every change, outside the model's lock: the row (-1 for changes of the
    // whole list or of a column width) and the column (-1 for the whole row).
    using ChangeCallback = std::function<void(int row, int column)>;

    explicit CListModel(TextMeasure measure = {});

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

    // A copy of all rows, consistent at one moment.
    std::vector<Row> Snapshot() const;

    void SetChangeCallback(ChangeCallback callback);

private:
    void Changed(int row, int column);
    bool IsRow(int row) const { return row >= 0 && row < static_cast<int>(m_Rows.size()); }
    static bool IsColumn(int column) { return column >= 0 && column < COLUMN_COUNT; }

    const TextMeasure m_Measure;
    mutable std::mutex m_Lock;
    std::vector<Row> m_Rows;
    std::array<int, COLUMN_COUNT> m_Widths;
    std::mutex m_CallbackLock;
    ChangeCallback m_Callback;
};
