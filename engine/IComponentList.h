#pragma once

#include <cstdint>
#include <string>

// The five-column component list as the engine and the version check see it. Rows are
// addressed by position; each row carries a colour (0x00BBGGRR) used for its status text.
// Calls may come from a worker thread: an implementation that belongs to a window must
// hand them to the window's own thread without blocking on it.
class IComponentList {
public:
    static constexpr int COL_TYPE = 0;
    static constexpr int COL_CURRENT = 1;
    static constexpr int COL_UPGRADE = 2;
    static constexpr int COL_PERCENT = 3;
    static constexpr int COL_STATUS = 4;
    static constexpr int COLUMN_COUNT = 5;

    virtual ~IComponentList() = default;

    virtual int GetItemCount() const = 0;
    // Inserts a row at `row` with `text` in column 0; returns its position, or -1.
    virtual int InsertItem(int row, const std::string& text) = 0;
    virtual bool DeleteItem(int row) = 0;
    virtual bool DeleteAllItems() = 0;
    // Writes to a row that does not exist change nothing and return false.
    virtual bool SetItemText(int row, int column, const std::string& text) = 0;
    virtual std::string GetItemText(int row, int column) const = 0;
    virtual bool SetItemData(int row, uint32_t colour) = 0;
    virtual uint32_t GetItemData(int row) const = 0;
    virtual int GetColumnWidth(int column) const = 0;
    virtual bool SetColumnWidth(int column, int width) = 0;
    // Pixel width of `text` in the list's font.
    virtual int GetStringWidth(const std::string& text) const = 0;
};
