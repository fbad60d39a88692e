#include "cli/CCliView.h"

#include <cstdio>

#include "app/CKivOneClickDlg.h"
#include "platform/TextCodec.h"

CCliView::CCliView()
    : m_WarningSink([](const std::string& text) {
          std::fprintf(stderr, "Warning: %s\n", MakePrintable(text, true).c_str());
          std::fflush(stderr);
      })
{
}

void CCliView::EnableButton(int controlId, bool enable)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (controlId == IDC_CHECK)
        m_bCheckEnabled = enable;
    else if (controlId == IDC_UPGRADE)
        m_bUpgradeEnabled = enable;
}

void CCliView::FocusButton(int) {}

bool CCliView::IsButtonEnabled(int controlId) const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return controlId == IDC_CHECK ? m_bCheckEnabled : m_bUpgradeEnabled;
}

int CCliView::ShowWarning(const std::string& text)
{
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Warnings.push_back(text);
        sink = m_WarningSink;
    }
    if (sink)
        sink(text);
    return ID_OK;
}

void CCliView::ShowNotice(const std::string& text)
{
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        sink = m_WarningSink;
    }
    if (sink)
        sink(text);
}

bool CCliView::AskYesNo(const std::string&) { return true; }

void CCliView::PostNotify(int code)
{
    RunOnViewThread([this, code] {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Notifications.push_back(code);
        }
        if (m_pDlg)
            m_pDlg->OnWorkerNotify(code);
    });
}

void CCliView::RunOnViewThread(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Queue.push_back(std::move(task));
    }
    m_Cond.notify_all();
}

void CCliView::EndDialog(int)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bEnded = true;
}

void CCliView::Pump(const std::function<bool()>& done, const std::function<void()>& idle,
                    std::chrono::milliseconds tick)
{
    while (!done()) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            m_Cond.wait_for(lock, tick, [this] { return !m_Queue.empty(); });
            if (!m_Queue.empty()) {
                task = std::move(m_Queue.front());
                m_Queue.pop_front();
            }
        }
        if (task)
            task();
        if (idle)
            idle();
    }
}

std::vector<int> CCliView::GetNotifications() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Notifications;
}

std::vector<std::string> CCliView::GetWarnings() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Warnings;
}

int CCliView::ShowWarningWithHint(const std::string& text, const std::string& hint)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_strHint = hint;
    }
    return ShowWarning(text);
}

std::string CCliView::GetHint() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_strHint;
}

void CCliView::SetWarningSink(std::function<void(const std::string&)> sink)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_WarningSink = std::move(sink);
}
