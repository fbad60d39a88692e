#pragma once

// Windows only: drives a window of the program under test from outside, as a user would,
// through window messages and keyboard input, and waits on what it shows with a deadline.
// Works across processes of one Wine prefix (or one Windows desktop): list-view cells are
// read through a buffer made in the window's process. tests/win/WindowDriverMain.cpp
// (kivwindriver.exe) gives the same to shell scripts.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace kivtest {

// The usual guard of a driver's wait, in real milliseconds.
constexpr int WINDOW_GUARD_MS = 10000;

// Runs this thread's messages (the keyboard handling of its dialogs included) until
// `condition` holds or `limitMs` passes; true when it held. For tests whose own thread owns
// the windows: a plain wait would freeze them.
bool PumpMessagesUntil(const std::function<bool()>& condition, int limitMs = WINDOW_GUARD_MS);

class WindowDriver {
public:
    // Message box buttons, as the box's control ids.
    static constexpr int BUTTON_OK = IDOK;
    static constexpr int BUTTON_CANCEL = IDCANCEL;
    static constexpr int BUTTON_YES = IDYES;
    static constexpr int BUTTON_NO = IDNO;

    WindowDriver() = default;
    explicit WindowDriver(HWND window) : m_hWnd(window) {}

    // Waits for a visible top-level window of `windowClass` (any class when null) whose
    // title holds `titlePart` (any title when empty), and drives it from then on.
    bool WaitForWindow(const wchar_t* windowClass, const std::wstring& titlePart = L"", int limitMs = WINDOW_GUARD_MS);
    HWND Window() const { return m_hWnd; }
    std::wstring Title() const;
    bool Exists() const { return m_hWnd != nullptr && IsWindow(m_hWnd); }
    // Waits until the window is gone.
    bool WaitClosed(int limitMs = WINDOW_GUARD_MS) const;

    // Presses the button `controlId`: BM_CLICK, posted (a click may open a modal box, and a
    // sent message would wait for the box to close).
    bool Click(int controlId) const;
    bool IsControlEnabled(int controlId) const;
    std::wstring ControlText(int controlId) const;
    // Asks the window to close, as its close box does (WM_CLOSE, posted).
    bool Close() const;

    // The list-view `listId`: its row count, a cell's text (UTF-8) and a row's item data.
    // -1, "" and 0 when it cannot be read.
    int ListRowCount(int listId) const;
    std::string ListCell(int listId, int row, int column) const;
    uint64_t ListItemData(int listId, int row) const;
    // The row's height in pixels, or 0.
    int ListItemHeight(int listId, int row) const;
    // Waits until `condition` holds for the cell's text.
    bool WaitForCell(int listId, int row, int column, const std::function<bool(const std::string&)>& condition,
                     int limitMs = WINDOW_GUARD_MS) const;

    // Keyboard input as the user types it (SendInput), after bringing the window to the
    // front: `key` is a virtual-key code, pressed with Alt when `alt`. False when the window
    // cannot be brought to the front or the input is refused.
    bool PressKey(WORD key, bool alt = false) const;

    // Waits for a message box owned by the window whose text holds `textPart` (any text
    // when empty) and gives its handle, or null.
    HWND WaitForMessageBox(const std::wstring& textPart = L"", int limitMs = WINDOW_GUARD_MS) const;
    static std::wstring MessageBoxText(HWND box);
    // Presses `button` (BUTTON_...) of the box.
    static bool AnswerMessageBox(HWND box, int button);

    // Waits until `condition` holds, looking again every 20 ms while running this thread's
    // messages.
    static bool WaitFor(const std::function<bool()>& condition, int limitMs = WINDOW_GUARD_MS);

private:
    HWND m_hWnd = nullptr;
};

} // namespace kivtest
