#pragma once

#include <array>
#include <mutex>

#include "engine/CListModel.h"

class CMyListCtrl;
class QFont;

// The component list as the workers see it, and the list window that shows it. The rows
// live once, in the CListModel owned here, which workers read and change from any thread
// without waiting. Every change queues one refresh of the list window to the window's thread,
// in the order made; a refresh copies what the model holds when it runs, so the window has
// caught up with every change made before any later queued call. After Detach() changes
// only reach the model.
class CListBridge {
public:
    explicit CListBridge(CMyListCtrl* list);
    ~CListBridge();

    CListBridge(const CListBridge&) = delete;
    CListBridge& operator=(const CListBridge&) = delete;

    // The rows, for the workers and the controller.
    CListModel& Rows() { return m_Model; }

    // Stops the refreshes (view thread, before the list window goes).
    void Detach();

    // The list window's column widths changed (view thread).
    void ColumnWidthsChanged(const std::array<int, IComponentList::COLUMN_COUNT>& widths);

private:
    // Measures text with the advances of the printable ASCII characters in `font`, taken
    // once on the window's thread, so that workers can measure without touching the font.
    static CListModel::TextMeasure FontMeasure(const QFont& font);

    // Any thread: queues the refresh of one change (see CListModel::ChangeCallback).
    void QueueRefresh(int row, int column);
    // View thread: brings the list window up to the model.
    void RefreshRows(CMyListCtrl& list) const;
    void RefreshColumnWidth(CMyListCtrl& list, int column) const;

    std::mutex m_AttachLock;
    CMyListCtrl* m_pList; // cleared by Detach() before the window goes
    CListModel m_Model;
};
