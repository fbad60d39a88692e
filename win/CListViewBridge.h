#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "engine/CListModel.h"

class CDialogThreadQueue;
class CMyListCtrl;

// The component list as the workers see it, and the list-view control that shows it. The
// rows live once, in the CListModel owned here, which workers read and change from any
// thread without waiting. A change queues one refresh of the list-view to the dialog's
// thread (none while one is queued and not yet started); a refresh copies what the model
// holds when it runs, so the list-view has caught up with every change made before any call
// queued later. Text is measured with the list's font, taken on the dialog thread.
class CListViewBridge {
public:
    CListViewBridge(CMyListCtrl& list, CDialogThreadQueue& queue);
    ~CListViewBridge();
    CListViewBridge(const CListViewBridge&) = delete;
    CListViewBridge& operator=(const CListViewBridge&) = delete;

    // The rows, for the workers and the controller.
    CListModel& Rows() { return m_Model; }

    // Dialog thread: the list's font changed (set, or a new DPI); measures it again.
    void FontChanged();
    // Dialog thread: the list-view's column widths changed; the model learns them.
    void ColumnWidthsChanged();
    // Dialog thread: brings the list-view up to the model now.
    void Refresh();

private:
    struct Advances {
        std::array<int, 95> ascii{}; // printable ASCII, from the space
        int wide = 0;                // any other character
    };

    int Measure(const std::string& text) const;
    void QueueRefresh(int row, int column);

    CMyListCtrl& m_List;
    CDialogThreadQueue& m_Queue;
    mutable std::mutex m_AdvancesLock;
    std::shared_ptr<const Advances> m_pAdvances;
    std::atomic<bool> m_bRefreshQueued{false};
    CListModel m_Model;
};
