#include "win/CDialogThreadQueue.h"

#include <memory>

void CDialogThreadQueue::Attach(HWND dialog)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_hWnd = dialog;
    m_nThreadId = GetWindowThreadProcessId(dialog, nullptr);
    m_bClosing = false;
}

void CDialogThreadQueue::Detach()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        // Cleared under the lock: a window handle can be reused once the window is gone, and
        // nothing may be posted to whatever window gets it next.
        m_hWnd = nullptr;
        m_bClosing = true;
        dropped.swap(m_Tasks);
    }
    m_Changed.notify_all();
}

bool CDialogThreadQueue::PostNotify(int code)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_hWnd != nullptr && PostMessageW(m_hWnd, WM_KIV_NOTIFY, static_cast<WPARAM>(code), 0) != FALSE;
}

bool CDialogThreadQueue::Post(std::function<void()> task)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (m_hWnd == nullptr)
        return false;
    m_Tasks.push_back(std::move(task));
    if (PostMessageW(m_hWnd, WM_KIV_TASK, 0, 0) == FALSE) {
        m_Tasks.pop_back();
        return false;
    }
    return true;
}

bool CDialogThreadQueue::OnDialogThread() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_nThreadId != 0 && GetCurrentThreadId() == m_nThreadId;
}

bool CDialogThreadQueue::HandleMessage(UINT message)
{
    if (message != WM_KIV_TASK)
        return false;
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_Tasks.empty())
            return true;
        task = std::move(m_Tasks.front());
        m_Tasks.pop_front();
    }
    task();
    return true;
}

int CDialogThreadQueue::RunAndWait(std::function<int()> task, int whenClosing)
{
    if (IsClosing())
        return whenClosing;
    if (OnDialogThread())
        return task();
    struct Pending {
        bool done = false;
        int result = 0;
    };
    auto pending = std::make_shared<Pending>();
    const bool posted = Post([this, task = std::move(task), pending, whenClosing] {
        const int result = IsClosing() ? whenClosing : task();
        {
            std::lock_guard<std::mutex> lock(m_Lock);
            pending->done = true;
            pending->result = result;
        }
        m_Changed.notify_all();
    });
    if (!posted)
        return whenClosing;
    std::unique_lock<std::mutex> lock(m_Lock);
    m_Changed.wait(lock, [&] { return pending->done || m_bClosing; });
    return pending->done ? pending->result : whenClosing;
}

void CDialogThreadQueue::BeginClosing()
{
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_bClosing = true;
    }
    m_Changed.notify_all();
}

bool CDialogThreadQueue::IsClosing() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_bClosing;
}
