#include "gui/controls/CMyListCtrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyledItemDelegate>

#include "gui/controls/ColorRef.h"

namespace {
constexpr int ITEM_DATA_ROLE = Qt::UserRole + 1;

// Paints each cell on its row's background and the last column in the row's colour.
class CRowColourDelegate : public QStyledItemDelegate {
public:
    explicit CRowColourDelegate(CMyListCtrl* list) : QStyledItemDelegate(list), m_pList(list) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->backgroundBrush = ColorFromColorRef(m_pList->RowColour(index.row()));
        uint32_t colour = 0;
        if (m_pList->CellTextColour(index.row(), index.column(), colour))
            option->palette.setColor(QPalette::Text, ColorFromColorRef(colour));
    }

private:
    CMyListCtrl* m_pList;
};

QString ToQt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
} // namespace

CMyListCtrl::CMyListCtrl(QWidget* parent) : QTableWidget(parent), m_pHeaderCtrl(new CMyHeaderCtrl(this))
{
    setItemDelegate(new CRowColourDelegate(this));
    verticalHeader()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    // Tab leaves the list for the next control instead of walking its cells.
    setTabKeyNavigation(false);
    Setup();
}

CMyListCtrl::~CMyListCtrl() = default;

void CMyListCtrl::Setup()
{
    if (!m_bHeaderAttached) {
        setHorizontalHeader(m_pHeaderCtrl);
        m_bHeaderAttached = true;
    }
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, QApplication::palette().color(QPalette::Button));
    setPalette(pal);
}

int CMyListCtrl::InsertColumn(int column, const std::string& heading, Qt::Alignment alignment, int width)
{
    if (column < 0 || column > columnCount())
        column = columnCount();
    insertColumn(column);
    auto* header = new QTableWidgetItem(ToQt(heading));
    header->setTextAlignment(alignment | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    m_Alignments.insert(column, alignment);
    setColumnWidth(column, width);
    return column;
}

int CMyListCtrl::GetItemCount() const { return rowCount(); }

int CMyListCtrl::InsertItem(int row, const std::string& text)
{
    if (row < 0 || row > rowCount())
        row = rowCount();
    insertRow(row);
    for (int c = 0; c < columnCount(); ++c) {
        auto* item = new QTableWidgetItem();
        item->setTextAlignment(m_Alignments.value(c, Qt::AlignLeft) | Qt::AlignVCenter);
        setItem(row, c, item);
    }
    if (columnCount() > 0)
        item(row, 0)->setText(ToQt(text));
    return row;
}

bool CMyListCtrl::DeleteItem(int row)
{
    if (row < 0 || row >= rowCount())
        return false;
    removeRow(row);
    return true;
}

bool CMyListCtrl::DeleteAllItems()
{
    setRowCount(0);
    return true;
}

bool CMyListCtrl::SetItemText(int row, int column, const std::string& text)
{
    QTableWidgetItem* cell = item(row, column);
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount() || !cell)
        return false;
    cell->setText(ToQt(text));
    return true;
}

std::string CMyListCtrl::GetItemText(int row, int column) const
{
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text().toStdString() : std::string();
}

bool CMyListCtrl::SetItemData(int row, uint32_t colour)
{
    QTableWidgetItem* cell = item(row, 0);
    if (!cell)
        return false;
    cell->setData(ITEM_DATA_ROLE, static_cast<qulonglong>(colour));
    // The colour shows in the last column, which is not the cell that changed.
    viewport()->update();
    return true;
}

uint32_t CMyListCtrl::GetItemData(int row) const
{
    const QTableWidgetItem* cell = item(row, 0);
    return cell ? static_cast<uint32_t>(cell->data(ITEM_DATA_ROLE).toULongLong()) : 0;
}

int CMyListCtrl::GetColumnWidth(int column) const
{
    return (column >= 0 && column < columnCount()) ? columnWidth(column) : 0;
}

bool CMyListCtrl::SetColumnWidth(int column, int width)
{
    if (column < 0 || column >= columnCount() || width < 0)
        return false;
    setColumnWidth(column, width);
    return true;
}

int CMyListCtrl::GetStringWidth(const std::string& text) const
{
    return QFontMetrics(font()).horizontalAdvance(ToQt(text));
}

int CMyListCtrl::ContentWidth(int column) const
{
    int width = 0;
    const QFontMetrics metrics(font());
    for (int row = 0; row < rowCount(); ++row) {
        if (const QTableWidgetItem* cell = item(row, column))
            width = std::max(width, metrics.horizontalAdvance(cell->text()) + CELL_PADDING);
    }
    return width;
}

int CMyListCtrl::ContentAndHeaderWidth(int column) const
{
    int headerWidth = 0;
    if (const QTableWidgetItem* header = horizontalHeaderItem(column))
        headerWidth = QFontMetrics(m_pHeaderCtrl->font()).horizontalAdvance(header->text()) + CELL_PADDING;
    return std::max(ContentWidth(column), headerWidth);
}

bool CMyListCtrl::CellTextColour(int row, int column, uint32_t& colour) const
{
    if (column + 1 != m_pHeaderCtrl->count() || row < 0 || row >= rowCount())
        return false;
    colour = GetItemData(row);
    return true;
}
