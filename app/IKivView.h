#pragma once

#include <cstdio>
#include <functional>
#include <string>

class IComponentList;

// What the main dialog's controller (CKivOneClickDlg) needs from whatever shows it: the
// desktop window, the command line, or a fake in tests.
//
// Threads. The view has one thread of its own (the "view thread"; the GUI thread of a
// window, the main loop of the command line). The controller's handlers (OnInitDialog,
// OnCheck, OnUpgrade, OnWorkerNotify, OnCancel) are called on that thread only. The check
// and upgrade workers call the operations marked "any thread"; a view that belongs to a
// window hands those calls to its own thread in the order they were made and never makes
// the worker wait for the view thread, except ShowWarning, which waits for the user.
class IKivView {
public:
    // Control ids of the dialog.
    static constexpr int IDC_CHECK = 1000;   // "&Check", the default button
    static constexpr int IDC_UPGRADE = 1013; // "&Upgrade"
    static constexpr int IDC_LIST = 1011;    // the five-column component list

    // Dialog results for EndDialog.
    static constexpr int ID_OK = 1;
    static constexpr int ID_CANCEL = 2;

    virtual ~IKivView() = default;

    // Any thread. Enables or disables one of the two buttons.
    virtual void EnableButton(int controlId, bool enable) = 0;

    // Any thread. Gives one of the two buttons the keyboard focus.
    virtual void FocusButton(int controlId) = 0;

    // The five-column component list. Its calls may come from any thread (see
    // engine/IComponentList.h). The pointer stays valid for the life of the view.
    virtual IComponentList* GetList() = 0;

    // Any thread. Modal warning box: caption "Warning", warning icon, OK button; `text` is
    // UTF-8. Returns when the user has closed it, with the box's result (ID_OK). Called
    // from a worker, the box is shown on the view thread and the worker waits; a view
    // that is closing returns at once instead of showing it.
    virtual int ShowWarning(const std::string& text) = 0;

    // Any thread. The same box with `hint` (lines of advice) below the text. A view that
    // keeps the advice apart (the command line prints it under the result) overrides it.
    virtual int ShowWarningWithHint(const std::string& text, const std::string& hint)
    {
        return ShowWarning(hint.empty() ? text : text + "\n\n" + hint);
    }

    // Any thread. A note that needs no answer and must not interrupt (a file beside the
    // program that is not an image). By default on standard error; never a modal box.
    virtual void ShowNotice(const std::string& text)
    {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }

    // Any thread. The lines the window keeps under the list after a check (which router was
    // found, which components are already up to date); empty to clear them. A view that
    // prints its own summary (the command line) ignores it.
    virtual void ShowSummary(const std::string& /*text*/) {}

    // View thread. Modal question: caption "Warning", information icon, Yes and No
    // buttons with No as the default. True for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;

    // Any thread. Queues a worker notification code (0 to 5, other values allowed) for
    // the view thread, which then calls CKivOneClickDlg::OnWorkerNotify(code). Never
    // calls it directly from the posting thread. Notifications posted by one thread
    // arrive in the order posted, and after that thread's earlier view calls.
    virtual void PostNotify(int code) = 0;

    // Any thread. Runs `task` on the view thread later (never inside this call).
    virtual void RunOnViewThread(std::function<void()> task) = 0;

    // Any thread. Places the controls and fits the list's columns again (the controller's
    // Layout numbers, CKivOneClickDlg::ComputeLayout), then repaints at once.
    virtual void Relayout() = 0;

    // Any thread. Brings the window to the foreground (nothing for a view without one).
    virtual void BringToForeground() = 0;

    // View thread. Saves the window placement and ends the dialog with `result`.
    virtual void EndDialog(int result) = 0;
};
