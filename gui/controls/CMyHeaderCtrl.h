#pragma once

#include <QHeaderView>

// Column header of the component list. The list sizes its columns itself, so the header
// never shows the divider cursor, ignores double-clicks (no sizing a column to its
// contents) and does not let a divider be dragged.
class CMyHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CMyHeaderCtrl(QWidget* parent = nullptr);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
};
