#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/IKivView.h"
#include "engine/CListModel.h"

class CKivOneClickDlg;

// The dialog's view for the command line. The main thread is the view thread: it runs
// Pump, which executes the notifications and tasks that workers queue. Warnings go to
// standard error and are kept for the report; nothing is ever asked (AskYesNo says yes).
class CCliView : public IKivView {
public:
    CCliView();

    // The controller that receives the notifications (set before the first Pump).
    void SetController(CKivOneClickDlg* dlg) { m_pDlg = dlg; }

    void EnableButton(int controlId, bool enable) override;
    void FocusButton(int controlId) override;
    IComponentList* GetList() override { return &m_List; }
    int ShowWarning(const std::string& text) override;
    // Prints and keeps the text as a warning; the hint is kept apart for the report.
    int ShowWarningWithHint(const std::string& text, const std::string& hint) override;
    // Printed as a warning is, but not kept among the warnings: it is no reason for a result.
    void ShowNotice(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void PostNotify(int code) override;
    void RunOnViewThread(std::function<void()> task) override;
    void Relayout() override {}
    void BringToForeground() override {}
    void EndDialog(int result) override;

    // Runs queued work on the calling thread until `done` holds, waking at least every
    // `tick` to call `idle` (used to react to Ctrl-C).
    void Pump(const std::function<bool()>& done, const std::function<void()>& idle,
              std::chrono::milliseconds tick = std::chrono::milliseconds(50));

    CListModel& GetListModel() { return m_List; }
    bool IsButtonEnabled(int controlId) const;
    // Notification codes handled so far, in order.
    std::vector<int> GetNotifications() const;
    std::vector<std::string> GetWarnings() const;
    // The hint that came with the last warning that had one (empty when none did).
    std::string GetHint() const;
    // Where warnings are written (default: standard error); used by the progress printer
    // to keep its live lines intact.
    void SetWarningSink(std::function<void(const std::string&)> sink);

private:
    CListModel m_List;
    CKivOneClickDlg* m_pDlg = nullptr;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Cond;
    std::deque<std::function<void()>> m_Queue;
    std::vector<int> m_Notifications;
    std::vector<std::string> m_Warnings;
    std::string m_strHint;
    std::function<void(const std::string&)> m_WarningSink;
    bool m_bCheckEnabled = true;
    bool m_bUpgradeEnabled = false;
    bool m_bEnded = false;
};
