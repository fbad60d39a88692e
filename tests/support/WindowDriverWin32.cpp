#include "tests/support/WindowDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/WideText.h"

namespace kivtest {

namespace {

// How long a message sent to the window under test may take before the driver gives up.
constexpr UINT SEND_LIMIT_MS = 5000;
constexpr int LOOK_AGAIN_MS = 20;
constexpr int MAX_CELL_CHARS = 1024;
// The text control of a message box.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;

bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, SEND_LIMIT_MS, &answer) == 0)
        return false;
    result = static_cast<LRESULT>(answer);
    return true;
}

std::wstring TextOf(HWND window)
{
    LRESULT length = 0;
    if (window == nullptr || !SendWithin(window, WM_GETTEXTLENGTH, 0, 0, length) || length < 0)
        return std::wstring();
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = 0;
    if (!SendWithin(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), copied))
        return std::wstring();
    return std::wstring(text.data(), static_cast<size_t>(std::max<LRESULT>(copied, 0)));
}

// A buffer in the address space of the process that owns a window: list-view messages carry
// pointers, which must point into the list's own process.
class RemoteBuffer {
public:
    RemoteBuffer(HWND window, size_t size) : m_Size(size)
    {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        m_hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_hProcess != nullptr)
            m_pAddress = VirtualAllocEx(m_hProcess, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBuffer()
    {
        if (m_pAddress != nullptr)
            VirtualFreeEx(m_hProcess, m_pAddress, 0, MEM_RELEASE);
        if (m_hProcess != nullptr)
            CloseHandle(m_hProcess);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool Valid() const { return m_pAddress != nullptr; }
    char* Address(size_t offset = 0) const { return static_cast<char*>(m_pAddress) + offset; }
    bool Write(size_t offset, const void* data, size_t size) const
    {
        SIZE_T done = 0;
        return offset + size <= m_Size && WriteProcessMemory(m_hProcess, Address(offset), data, size, &done) &&
               done == size;
    }
    bool Read(size_t offset, void* data, size_t size) const
    {
        SIZE_T done = 0;
        return offset + size <= m_Size && ReadProcessMemory(m_hProcess, Address(offset), data, size, &done) &&
               done == size;
    }

private:
    size_t m_Size;
    HANDLE m_hProcess = nullptr;
    void* m_pAddress = nullptr;
};

struct WindowSearch {
    const wchar_t* windowClass;
    std::wstring titlePart;
    HWND owner;
    HWND found = nullptr;
};

bool ClassIs(HWND window, const wchar_t* windowClass)
{
    wchar_t name[256] = {};
    return GetClassNameW(window, name, 256) > 0 && _wcsicmp(name, windowClass) == 0;
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<WindowSearch*>(data);
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->owner != nullptr && GetWindow(window, GW_OWNER) != search->owner)
        return TRUE;
    if (search->windowClass != nullptr && !ClassIs(window, search->windowClass))
        return TRUE;
    if (!search->titlePart.empty()) {
        const std::wstring text = search->owner != nullptr ? WindowDriver::MessageBoxText(window) : TextOf(window);
        if (text.find(search->titlePart) == std::wstring::npos)
            return TRUE;
    }
    search->found = window;
    return FALSE;
}

HWND FindTopLevel(const wchar_t* windowClass, const std::wstring& titlePart, HWND owner)
{
    WindowSearch search{windowClass, titlePart, owner};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

bool PumpMessagesUntil(const std::function<bool()>& condition, int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
            if (root != nullptr && IsDialogMessageW(root, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition())
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left, LOOK_AGAIN_MS)),
                                  QS_ALLINPUT);
    }
}

bool WindowDriver::WaitFor(const std::function<bool()>& condition, int limitMs)
{
    return PumpMessagesUntil(condition, limitMs);
}

bool WindowDriver::WaitForWindow(const wchar_t* windowClass, const std::wstring& titlePart, int limitMs)
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopLevel(windowClass, titlePart, nullptr)) != nullptr; }, limitMs);
    m_hWnd = found;
    return found != nullptr;
}

std::wstring WindowDriver::Title() const { return TextOf(m_hWnd); }

bool WindowDriver::WaitClosed(int limitMs) const
{
    return WaitFor([this] { return !IsWindow(m_hWnd); }, limitMs);
}

bool WindowDriver::Click(int controlId) const
{
    HWND button = GetDlgItem(m_hWnd, controlId);
    return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool WindowDriver::IsControlEnabled(int controlId) const
{
    HWND control = GetDlgItem(m_hWnd, controlId);
    return control != nullptr && IsWindowEnabled(control);
}

std::wstring WindowDriver::ControlText(int controlId) const { return TextOf(GetDlgItem(m_hWnd, controlId)); }

bool WindowDriver::Close() const { return PostMessageW(m_hWnd, WM_CLOSE, 0, 0) != FALSE; }

int WindowDriver::ListRowCount(int listId) const
{
    LRESULT count = -1;
    HWND list = GetDlgItem(m_hWnd, listId);
    if (list == nullptr || !SendWithin(list, LVM_GETITEMCOUNT, 0, 0, count))
        return -1;
    return static_cast<int>(count);
}

std::string WindowDriver::ListCell(int listId, int row, int column) const
{
    HWND list = GetDlgItem(m_hWnd, listId);
    if (list == nullptr)
        return std::string();
    // The item record, then the text buffer it points to, both in the list's process.
    constexpr size_t TEXT_AT = sizeof(LVITEMW);
    RemoteBuffer buffer(list, TEXT_AT + MAX_CELL_CHARS * sizeof(wchar_t));
    if (!buffer.Valid())
        return std::string();
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<LPWSTR>(buffer.Address(TEXT_AT));
    item.cchTextMax = MAX_CELL_CHARS;
    LRESULT length = 0;
    if (!buffer.Write(0, &item, sizeof item) ||
        !SendWithin(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(buffer.Address()),
                    length) ||
        length < 0 || length >= MAX_CELL_CHARS)
        return std::string();
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    if (!buffer.Read(TEXT_AT, text.data(), static_cast<size_t>(length) * sizeof(wchar_t)))
        return std::string();
    return Utf8FromWide(text.data(), static_cast<size_t>(length));
}

uint64_t WindowDriver::ListItemData(int listId, int row) const
{
    HWND list = GetDlgItem(m_hWnd, listId);
    if (list == nullptr)
        return 0;
    RemoteBuffer buffer(list, sizeof(LVITEMW));
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    LRESULT ok = FALSE;
    if (!buffer.Valid() || !buffer.Write(0, &item, sizeof item) ||
        !SendWithin(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.Address()), ok) || !ok ||
        !buffer.Read(0, &item, sizeof item))
        return 0;
    return static_cast<uint64_t>(item.lParam);
}

int WindowDriver::ListItemHeight(int listId, int row) const
{
    HWND list = GetDlgItem(m_hWnd, listId);
    if (list == nullptr)
        return 0;
    RemoteBuffer buffer(list, sizeof(RECT));
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    LRESULT ok = FALSE;
    if (!buffer.Valid() || !buffer.Write(0, &rect, sizeof rect) ||
        !SendWithin(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(buffer.Address()), ok) ||
        !ok || !buffer.Read(0, &rect, sizeof rect))
        return 0;
    return rect.bottom - rect.top;
}

bool WindowDriver::WaitForCell(int listId, int row, int column,
                               const std::function<bool(const std::string&)>& condition, int limitMs) const
{
    return WaitFor([&] { return condition(ListCell(listId, row, column)); }, limitMs);
}

bool WindowDriver::PressKey(WORD key, bool alt) const
{
    // The keys go to the active window of the foreground: this one, or the box it shows.
    HWND front = GetLastActivePopup(m_hWnd);
    SetForegroundWindow(front);
    if (!WaitFor([front] { return GetForegroundWindow() == front; }, WINDOW_GUARD_MS))
        return false;
    std::vector<INPUT> inputs;
    auto add = [&inputs](WORD vk, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (alt)
        add(VK_MENU, false);
    add(key, false);
    add(key, true);
    if (alt)
        add(VK_MENU, true);
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

HWND WindowDriver::WaitForMessageBox(const std::wstring& textPart, int limitMs) const
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopLevel(L"#32770", textPart, m_hWnd)) != nullptr; }, limitMs);
    return found;
}

std::wstring WindowDriver::MessageBoxText(HWND box) { return TextOf(GetDlgItem(box, MESSAGE_BOX_TEXT_ID)); }

bool WindowDriver::AnswerMessageBox(HWND box, int button)
{
    HWND control = GetDlgItem(box, button);
    return control != nullptr && PostMessageW(control, BM_CLICK, 0, 0) != FALSE;
}

} // namespace kivtest
