#include "win/CListViewBridge.h"

#include <vector>

#include "win/CDialogThreadQueue.h"
#include "win/controls/CMyListCtrl.h"

CListViewBridge::CListViewBridge(CMyListCtrl& list, CDialogThreadQueue& queue)
    : m_List(list), m_Queue(queue), m_Model([this](const std::string& text) { return Measure(text); })
{
    FontChanged();
    m_Model.SetChangeCallback([this](int row, int column) { QueueRefresh(row, column); });
}

CListViewBridge::~CListViewBridge() { m_Model.SetChangeCallback({}); }

void CListViewBridge::FontChanged()
{
    auto advances = std::make_shared<Advances>();
    HWND window = m_List.GetHwnd();
    HDC dc = GetDC(window);
    if (dc != nullptr) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
        HGDIOBJ old = SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
        INT widths[95] = {};
        if (GetCharWidth32W(dc, 32, 126, widths)) {
            for (size_t i = 0; i < advances->ascii.size(); ++i)
                advances->ascii[i] = widths[i];
        }
        TEXTMETRICW metrics{};
        if (GetTextMetricsW(dc, &metrics))
            advances->wide = metrics.tmMaxCharWidth;
        SelectObject(dc, old);
        ReleaseDC(window, dc);
    }
    std::lock_guard<std::mutex> lock(m_AdvancesLock);
    m_pAdvances = advances;
}

int CListViewBridge::Measure(const std::string& text) const
{
    std::shared_ptr<const Advances> advances;
    {
        std::lock_guard<std::mutex> lock(m_AdvancesLock);
        advances = m_pAdvances;
    }
    if (!advances)
        return static_cast<int>(text.size()) * CListModel::PIXELS_PER_CHAR;
    int width = 0;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= 32 && c < 127)
            width += advances->ascii[c - 32];
        else if ((c & 0xC0) != 0x80) // the first byte of a wider character
            width += advances->wide;
    }
    return width;
}

void CListViewBridge::QueueRefresh(int, int)
{
    if (m_bRefreshQueued.exchange(true))
        return;
    if (!m_Queue.Post([this] { Refresh(); }))
        m_bRefreshQueued = false;
}

void CListViewBridge::Refresh()
{
    // Cleared before the copy is taken: a change made after it queues a refresh of its own.
    m_bRefreshQueued = false;
    const std::vector<CListModel::Row> rows = m_Model.Snapshot();
    const int count = static_cast<int>(rows.size());
    while (m_List.GetItemCount() > count)
        m_List.DeleteItem(m_List.GetItemCount() - 1);
    while (m_List.GetItemCount() < count)
        m_List.InsertItem(m_List.GetItemCount(), std::string());
    for (int row = 0; row < count; ++row) {
        const CListModel::Row& model = rows[static_cast<size_t>(row)];
        for (int column = 0; column < IComponentList::COLUMN_COUNT; ++column) {
            const std::string& text = model.texts[static_cast<size_t>(column)];
            if (m_List.GetItemText(row, column) != text)
                m_List.SetItemText(row, column, text);
        }
        if (m_List.GetItemData(row) != model.colour)
            m_List.SetItemData(row, model.colour);
    }
    for (int column = 0; column < IComponentList::COLUMN_COUNT && column < m_List.GetColumnCount(); ++column) {
        const int width = m_Model.GetColumnWidth(column);
        if (width > 0 && m_List.GetColumnWidth(column) != width)
            m_List.SetColumnWidth(column, width);
    }
}

void CListViewBridge::ColumnWidthsChanged()
{
    for (int column = 0; column < IComponentList::COLUMN_COUNT && column < m_List.GetColumnCount(); ++column)
        m_Model.SetColumnWidth(column, m_List.GetColumnWidth(column));
}
