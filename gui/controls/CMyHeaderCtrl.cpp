#include "gui/controls/CMyHeaderCtrl.h"

#include <QMouseEvent>

CMyHeaderCtrl::CMyHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(false);
    setSectionsMovable(false);
    setSectionResizeMode(QHeaderView::Fixed);
    setHighlightSections(false);
}

void CMyHeaderCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A divider double-click would size the column to its contents.
    event->accept();
}

void CMyHeaderCtrl::mousePressEvent(QMouseEvent* event)
{
    // No tracking of a divider; the header has nothing else to do with a press.
    event->accept();
}

void CMyHeaderCtrl::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

bool CMyHeaderCtrl::viewportEvent(QEvent* event)
{
    // Keep the arrow cursor over dividers.
    if (event->type() == QEvent::CursorChange || event->type() == QEvent::HoverMove) {
        event->accept();
        return true;
    }
    return QHeaderView::viewportEvent(event);
}
