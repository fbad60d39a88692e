#pragma once

#include <windows.h>

// The small window-class layer under the owner-drawn controls: a C++ object attached to an
// existing window (a dialog's control) through the common controls' window subclassing,
// whose WindowProc sees every message before the window's own procedure.
//
// Notifications that a control sends to its parent (WM_DRAWITEM, WM_NOTIFY, WM_COMMAND) are
// handed back to the control that sent them when the parent calls Reflect(): the control
// then receives REFLECT_BASE + the message and answers it itself, so that a control draws
// and refuses on its own whatever dialog holds it.
//
// Every call belongs to the thread that owns the window.
class CWindowSubclass {
public:
    // Messages handed back to their control arrive as REFLECT_BASE + the parent's message.
    static constexpr UINT REFLECT_BASE = WM_USER + 0x1C00;

    CWindowSubclass() = default;
    virtual ~CWindowSubclass();
    CWindowSubclass(const CWindowSubclass&) = delete;
    CWindowSubclass& operator=(const CWindowSubclass&) = delete;

    // Attaches to `window`; false when it is null, this object is attached already, or the
    // subclass cannot be installed. OnAttached() runs after a successful attach.
    bool Attach(HWND window);
    // Attaches to the child `controlId` of `dialog`.
    bool AttachDlgItem(HWND dialog, int controlId);
    // Removes the subclass; the window keeps running on its own procedure. Also done when
    // the window is destroyed and by the destructor.
    void Detach();

    HWND GetHwnd() const { return m_hWnd; }
    // The attached object of `window`, or null when none of ours is attached.
    static CWindowSubclass* FromHandle(HWND window);

    // For the parent's window procedure: hands WM_DRAWITEM, WM_NOTIFY and WM_COMMAND from
    // one of our controls back to it. True, with the control's answer in `result`, when the
    // control handled it; false otherwise, and the parent handles the message as usual.
    static bool Reflect(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

protected:
    // The message handler. The default passes the message on to the window's procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Passes a message on to the window's own procedure.
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnAttached() {}

    // Set by a handler of a reflected message that the parent must not handle further.
    void SetReflectHandled() { m_bReflectHandled = true; }

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);

    HWND m_hWnd = nullptr;
    bool m_bReflectHandled = false;
};
