#include "app/CListBridge.h"

#include <QFontMetrics>
#include <QMetaObject>

#include <cmath>

#include "ui/controls/CMyListCtrl.h"

CListBridge::CListBridge(CMyListCtrl* list) : m_pList(list)
{
    const QFontMetricsF metrics(list->font());
    for (int c = 32; c < 127; ++c)
        m_Advances[c - 32] = metrics.horizontalAdvance(QChar(c));
    m_dWideAdvance = metrics.maxWidth();
}

CListBridge::~CListBridge() { Detach(); }

void CListBridge::Detach()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_pList = nullptr;
}

// Called with m_Lock held, so the window sees the changes in the order of the copy.
template <typename F>
void CListBridge::Post(F&& change)
{
    CMyListCtrl* list = m_pList;
    if (!list)
        return;
    QMetaObject::invokeMethod(
        list, [list, change = std::forward<F>(change)] { change(*list); }, Qt::QueuedConnection);
}

int CListBridge::GetItemCount() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return static_cast<int>(m_Rows.size());
}

int CListBridge::InsertItem(int row, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (row < 0 || row > static_cast<int>(m_Rows.size()))
        row = static_cast<int>(m_Rows.size());
    Row added;
    added.texts[COL_TYPE] = text;
    m_Rows.insert(m_Rows.begin() + row, added);
    Post([row, text](CMyListCtrl& list) { list.InsertItem(row, text); });
    return row;
}

bool CListBridge::DeleteItem(int row)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!IsRow(row))
        return false;
    m_Rows.erase(m_Rows.begin() + row);
    Post([row](CMyListCtrl& list) { list.DeleteItem(row); });
    return true;
}

bool CListBridge::DeleteAllItems()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Rows.clear();
    Post([](CMyListCtrl& list) { list.DeleteAllItems(); });
    return true;
}

bool CListBridge::SetItemText(int row, int column, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!IsRow(row) || column < 0 || column >= COLUMN_COUNT)
        return false;
    m_Rows[row].texts[column] = text;
    Post([row, column, text](CMyListCtrl& list) { list.SetItemText(row, column, text); });
    return true;
}

std::string CListBridge::GetItemText(int row, int column) const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!IsRow(row) || column < 0 || column >= COLUMN_COUNT)
        return {};
    return m_Rows[row].texts[column];
}

bool CListBridge::SetItemData(int row, uint32_t colour)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!IsRow(row))
        return false;
    m_Rows[row].colour = colour;
    Post([row, colour](CMyListCtrl& list) { list.SetItemData(row, colour); });
    return true;
}

uint32_t CListBridge::GetItemData(int row) const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return IsRow(row) ? m_Rows[row].colour : 0;
}

int CListBridge::GetColumnWidth(int column) const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return (column >= 0 && column < COLUMN_COUNT) ? m_Widths[column] : 0;
}

bool CListBridge::SetColumnWidth(int column, int width)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (column < 0 || column >= COLUMN_COUNT || width < 0)
        return false;
    m_Widths[column] = width;
    Post([column, width](CMyListCtrl& list) { list.SetColumnWidth(column, width); });
    return true;
}

int CListBridge::GetStringWidth(const std::string& text) const
{
    double width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 32 && c < 127)
            width += m_Advances[c - 32];
        else if ((c & 0xC0) != 0x80) // first byte of a wider character
            width += m_dWideAdvance;
    }
    return static_cast<int>(std::lround(width));
}

void CListBridge::ColumnWidthsChanged(const std::array<int, COLUMN_COUNT>& widths)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Widths = widths;
}
