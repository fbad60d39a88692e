#include "gui/CListBridge.h"

#include <QFontMetrics>
#include <QMetaObject>

#include <cmath>
#include <memory>

#include "gui/controls/CMyListCtrl.h"

CListBridge::CListBridge(CMyListCtrl* list) : m_pList(list), m_Model(FontMeasure(list->font()))
{
    m_Model.SetChangeCallback([this](int row, int column) { QueueRefresh(row, column); });
}

CListBridge::~CListBridge()
{
    Detach();
    m_Model.SetChangeCallback({});
}

CListModel::TextMeasure CListBridge::FontMeasure(const QFont& font)
{
    struct Advances {
        std::array<double, 95> ascii{};
        double wide = 0;
    };
    auto advances = std::make_shared<Advances>();
    const QFontMetricsF metrics(font);
    for (int c = 32; c < 127; ++c)
        advances->ascii[c - 32] = metrics.horizontalAdvance(QChar(c));
    advances->wide = metrics.maxWidth();
    return [advances = std::shared_ptr<const Advances>(advances)](const std::string& text) {
        double width = 0;
        for (const char byte : text) {
            const unsigned char c = static_cast<unsigned char>(byte);
            if (c >= 32 && c < 127)
                width += advances->ascii[c - 32];
            else if ((c & 0xC0) != 0x80) // first byte of a wider character
                width += advances->wide;
        }
        return static_cast<int>(std::lround(width));
    };
}

void CListBridge::Detach()
{
    std::lock_guard<std::mutex> lock(m_AttachLock);
    m_pList = nullptr;
}

void CListBridge::QueueRefresh(int row, int column)
{
    // Held while queuing, so that nothing is queued to a list window Detach() let go.
    std::lock_guard<std::mutex> lock(m_AttachLock);
    CMyListCtrl* list = m_pList;
    if (!list)
        return;
    const bool widthOnly = row < 0 && column >= 0;
    QMetaObject::invokeMethod(
        list,
        [this, list, widthOnly, column] {
            {
                std::lock_guard<std::mutex> attached(m_AttachLock);
                if (m_pList != list)
                    return;
            }
            if (widthOnly)
                RefreshColumnWidth(*list, column);
            else
                RefreshRows(*list);
        },
        Qt::QueuedConnection);
}

void CListBridge::RefreshRows(CMyListCtrl& list) const
{
    const std::vector<CListModel::Row> rows = m_Model.Snapshot();
    const int count = static_cast<int>(rows.size());
    while (list.GetItemCount() > count)
        list.DeleteItem(list.GetItemCount() - 1);
    while (list.GetItemCount() < count)
        list.InsertItem(list.GetItemCount(), std::string());
    for (int row = 0; row < count; ++row) {
        const CListModel::Row& model = rows[static_cast<size_t>(row)];
        for (int column = 0; column < IComponentList::COLUMN_COUNT; ++column) {
            if (list.GetItemText(row, column) != model.texts[static_cast<size_t>(column)])
                list.SetItemText(row, column, model.texts[static_cast<size_t>(column)]);
        }
        if (list.GetItemData(row) != model.colour)
            list.SetItemData(row, model.colour);
    }
}

void CListBridge::RefreshColumnWidth(CMyListCtrl& list, int column) const
{
    const int width = m_Model.GetColumnWidth(column);
    if (list.GetColumnWidth(column) != width)
        list.SetColumnWidth(column, width);
}

void CListBridge::ColumnWidthsChanged(const std::array<int, IComponentList::COLUMN_COUNT>& widths)
{
    for (int column = 0; column < IComponentList::COLUMN_COUNT; ++column)
        m_Model.SetColumnWidth(column, widths[static_cast<size_t>(column)]);
}
