#include "engine/CListModel.h"

#include <utility>

namespace {

// Minimum characters each column fits by default: type, current, upgrade, %, status.
constexpr std::array<int, IComponentList::COLUMN_COUNT> DEFAULT_CHARS = {16, 15, 15, 4, 20};

size_t CountCodePoints(const std::string& text)
{
    size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

} // namespace

CListModel::CListModel(TextMeasure measure) : m_Measure(std::move(measure))
{
    for (int i = 0; i < COLUMN_COUNT; ++i)
        m_Widths[i] = (DEFAULT_CHARS[i] + 2) * PIXELS_PER_CHAR;
}

int CListModel::GetItemCount() const
{
    std::lock_guard lock(m_Lock);
    return static_cast<int>(m_Rows.size());
}

int CListModel::InsertItem(int row, const std::string& text)
{
    int position;
    {
        std::lock_guard lock(m_Lock);
        if (row < 0)
            return -1;
        position = row > static_cast<int>(m_Rows.size()) ? static_cast<int>(m_Rows.size()) : row;
        Row added;
        added.texts[COL_TYPE] = text;
        m_Rows.insert(m_Rows.begin() + position, std::move(added));
    }
    Changed(-1, -1);
    return position;
}

bool CListModel::DeleteItem(int row)
{
    {
        std::lock_guard lock(m_Lock);
        if (!IsRow(row))
            return false;
        m_Rows.erase(m_Rows.begin() + row);
    }
    Changed(-1, -1);
    return true;
}

bool CListModel::DeleteAllItems()
{
    {
        std::lock_guard lock(m_Lock);
        m_Rows.clear();
    }
    Changed(-1, -1);
    return true;
}

bool CListModel::SetItemText(int row, int column, const std::string& text)
{
    {
        std::lock_guard lock(m_Lock);
        if (!IsRow(row) || !IsColumn(column))
            return false;
        m_Rows[row].texts[column] = text;
    }
    Changed(row, column);
    return true;
}

std::string CListModel::GetItemText(int row, int column) const
{
    std::lock_guard lock(m_Lock);
    if (!IsRow(row) || !IsColumn(column))
        return {};
    return m_Rows[row].texts[column];
}

bool CListModel::SetItemData(int row, uint32_t colour)
{
    {
        std::lock_guard lock(m_Lock);
        if (!IsRow(row))
            return false;
        m_Rows[row].colour = colour;
    }
    Changed(row, -1);
    return true;
}

uint32_t CListModel::GetItemData(int row) const
{
    std::lock_guard lock(m_Lock);
    return IsRow(row) ? m_Rows[row].colour : 0;
}

int CListModel::GetColumnWidth(int column) const
{
    std::lock_guard lock(m_Lock);
    return IsColumn(column) ? m_Widths[column] : 0;
}

bool CListModel::SetColumnWidth(int column, int width)
{
    {
        std::lock_guard lock(m_Lock);
        if (!IsColumn(column) || width < 0)
            return false;
        m_Widths[column] = width;
    }
    Changed(-1, column);
    return true;
}

int CListModel::GetStringWidth(const std::string& text) const
{
    if (m_Measure)
        return m_Measure(text);
    return static_cast<int>(CountCodePoints(text)) * PIXELS_PER_CHAR;
}

std::vector<CListModel::Row> CListModel::Snapshot() const
{
    std::lock_guard lock(m_Lock);
    return m_Rows;
}

void CListModel::SetChangeCallback(ChangeCallback callback)
{
    std::lock_guard lock(m_CallbackLock);
    m_Callback = std::move(callback);
}

void CListModel::Changed(int row, int column)
{
    ChangeCallback callback;
    {
        std::lock_guard lock(m_CallbackLock);
        callback = m_Callback;
    }
    if (callback)
        callback(row, column);
}
