#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// How worker threads reach the dialog's thread: every call is a message posted to the
// dialog, never sent, so a worker never waits for a dialog that is busy or closing. Worker
// notifications are the message WM_KIV_NOTIFY with the code in its first parameter; any
// other call is a task queued here and announced by one WM_KIV_TASK message each, so that
// notifications and tasks run in the order they were posted. Once the dialog is destroyed
// (Detach) nothing more is posted, and tasks still queued are dropped unrun.
//
// A worker that must wait for the dialog thread (a warning box) uses RunAndWait, which
// returns early once the dialog has begun closing (BeginClosing).
class CDialogThreadQueue {
public:
    // The worker notification: the application message base plus 500.
    static constexpr UINT WM_KIV_NOTIFY = WM_APP + 500;
    static constexpr UINT WM_KIV_TASK = WM_APP + 501;

    CDialogThreadQueue() = default;
    CDialogThreadQueue(const CDialogThreadQueue&) = delete;
    CDialogThreadQueue& operator=(const CDialogThreadQueue&) = delete;

    // Dialog thread: posts go to `dialog` from now on.
    void Attach(HWND dialog);
    // Dialog thread, when the dialog is destroyed: no more posts, queued tasks dropped,
    // waiters released.
    void Detach();

    // Any thread. False when there is no dialog to post to.
    bool PostNotify(int code);
    bool Post(std::function<void()> task);

    // True on the dialog's thread.
    bool OnDialogThread() const;

    // Dialog thread, from the dialog procedure: runs the next task for WM_KIV_TASK. True
    // when the message was ours.
    bool HandleMessage(UINT message);

    // Any thread: runs `task` on the dialog thread and returns its result, waiting for it
    // from another thread. Returns `whenClosing` at once (or as soon as closing begins while
    // waiting) when the dialog is closing or gone; the task then does not run, or its result
    // is not waited for.
    int RunAndWait(std::function<int()> task, int whenClosing);

    // Dialog thread, when the dialog starts ending: releases every waiter of RunAndWait.
    void BeginClosing();
    bool IsClosing() const;

private:
    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    HWND m_hWnd = nullptr;
    DWORD m_nThreadId = 0;
    bool m_bClosing = false;
    std::deque<std::function<void()>> m_Tasks;
};
