#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/CKivOneClickDlg.h"
#include "app/IKivView.h"
#include "engine/CListModel.h"

// A view for controller tests: records what the controller asks of it, answers questions
// with a preset reply, and runs posted notifications on the test thread in Pump.
class FakeView : public IKivView {
public:
    void Attach(CKivOneClickDlg* dlg) { m_pDlg = dlg; }

    void EnableButton(int id, bool enable) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Enabled[id] = enable;
    }
    void FocusButton(int id) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_nFocus = id;
    }
    IComponentList* GetList() override { return &m_List; }
    // Like a modal box, holds the caller while warnings are held (HoldWarnings).
    int ShowWarning(const std::string& text) override
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Warnings.push_back(text);
        m_Cond.notify_all();
        m_Cond.wait(lock, [this] { return !m_bHoldWarnings; });
        return ID_OK;
    }
    void HoldWarnings(bool hold)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bHoldWarnings = hold;
        m_Cond.notify_all();
    }
    // Waits until `count` warnings have been shown.
    bool WaitForWarnings(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Cond.wait_for(lock, limit, [&] { return m_Warnings.size() >= count; });
    }
    void ShowNotice(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Notices.push_back(text);
    }
    std::vector<std::string> Notices() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Notices;
    }
    bool AskYesNo(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Questions.push_back(text);
        return m_bAnswerYes;
    }
    void PostNotify(int code) override
    {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Queue.push_back(code);
            m_Posted.push_back(code);
        }
        m_Cond.notify_all();
    }
    void RunOnViewThread(std::function<void()> task) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Tasks.push_back(std::move(task));
        m_Cond.notify_all();
    }
    void Relayout() override {}
    void BringToForeground() override {}
    void EndDialog(int result) override
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_nEndResult = result;
    }

    // Waits until `code` has been posted, without delivering anything.
    bool WaitPosted(int code, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Cond.wait_for(lock, limit,
                               [&] { return std::find(m_Posted.begin(), m_Posted.end(), code) != m_Posted.end(); });
    }

    // Delivers queued notifications until `done` holds or `limit` of real time passed.
    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            int code = -1;
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(m_Mutex);
                if (!m_Cond.wait_until(lock, deadline, [this] { return !m_Queue.empty() || !m_Tasks.empty(); }))
                    return done();
                if (!m_Tasks.empty()) {
                    task = std::move(m_Tasks.front());
                    m_Tasks.pop_front();
                } else {
                    code = m_Queue.front();
                    m_Queue.pop_front();
                }
            }
            if (task)
                task();
            if (code >= 0 && m_pDlg) {
                m_pDlg->OnWorkerNotify(code);
                std::lock_guard<std::mutex> lock(m_Mutex);
                m_Handled.push_back(code);
            }
        }
        return true;
    }
    // Pumps until `code` has been handled `count` times in all.
    bool PumpUntilHandled(int code, int count = 1, std::chrono::milliseconds limit = std::chrono::seconds(60))
    {
        return Pump([&] { return HandledCount(code) >= count; }, limit);
    }

    int HandledCount(int code) const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        int n = 0;
        for (int c : m_Handled)
            n += c == code ? 1 : 0;
        return n;
    }
    bool Enabled(int id) const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        auto it = m_Enabled.find(id);
        return it != m_Enabled.end() && it->second;
    }
    int Focus() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_nFocus;
    }
    std::vector<std::string> Warnings() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Warnings;
    }
    std::vector<std::string> Questions() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Questions;
    }
    std::vector<int> Posted() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Posted;
    }
    int EndResult() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_nEndResult;
    }
    void ForgetEnd()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_nEndResult = -1;
    }
    void SetAnswer(bool yes)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bAnswerYes = yes;
    }

    CListModel m_List;

private:
    CKivOneClickDlg* m_pDlg = nullptr;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Cond;
    std::deque<int> m_Queue;
    std::deque<std::function<void()>> m_Tasks;
    std::vector<int> m_Posted;
    std::vector<int> m_Handled;
    std::map<int, bool> m_Enabled{{IKivView::IDC_CHECK, true}, {IKivView::IDC_UPGRADE, false}};
    std::vector<std::string> m_Warnings;
    std::vector<std::string> m_Notices;
    std::vector<std::string> m_Questions;
    int m_nFocus = 0;
    int m_nEndResult = -1;
    bool m_bAnswerYes = false;
    bool m_bHoldWarnings = false;
};
