#include "win/controls/CWindowSubclass.h"

#include <commctrl.h>

namespace {
// One subclass of ours per window; the id tells it from subclasses of others.
constexpr UINT_PTR SUBCLASS_ID = 0x4B495655; // "KIVU"
// The window property that leads from a window to its object.
constexpr const wchar_t* OBJECT_PROPERTY = L"KivWindowSubclass";

// The window a parent's notification came from, or null.
HWND NotificationSource(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        return item != nullptr && item->CtlType != ODT_MENU ? item->hwndItem : nullptr;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        return header != nullptr ? header->hwndFrom : nullptr;
    }
    case WM_COMMAND: return HIWORD(wParam) != 0 || lParam != 0 ? reinterpret_cast<HWND>(lParam) : nullptr;
    default: return nullptr;
    }
}
} // namespace

CWindowSubclass::~CWindowSubclass() { Detach(); }

bool CWindowSubclass::Attach(HWND window)
{
    if (window == nullptr || m_hWnd != nullptr || FromHandle(window) != nullptr)
        return false;
    if (!SetPropW(window, OBJECT_PROPERTY, this))
        return false;
    if (!SetWindowSubclass(window, SubclassProc, SUBCLASS_ID, reinterpret_cast<DWORD_PTR>(this))) {
        RemovePropW(window, OBJECT_PROPERTY);
        return false;
    }
    m_hWnd = window;
    OnAttached();
    return true;
}

bool CWindowSubclass::AttachDlgItem(HWND dialog, int controlId) { return Attach(GetDlgItem(dialog, controlId)); }

void CWindowSubclass::Detach()
{
    if (m_hWnd == nullptr)
        return;
    RemoveWindowSubclass(m_hWnd, SubclassProc, SUBCLASS_ID);
    RemovePropW(m_hWnd, OBJECT_PROPERTY);
    m_hWnd = nullptr;
}

CWindowSubclass* CWindowSubclass::FromHandle(HWND window)
{
    return window != nullptr ? static_cast<CWindowSubclass*>(GetPropW(window, OBJECT_PROPERTY)) : nullptr;
}

bool CWindowSubclass::Reflect(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    CWindowSubclass* control = FromHandle(NotificationSource(message, wParam, lParam));
    if (control == nullptr)
        return false;
    // A reflected message may reflect another on its way (a click that takes the focus
    // repaints the button: WM_DRAWITEM inside WM_COMMAND). Each keeps its own answer, or the
    // inner one's would swallow the outer command.
    const bool outer = control->m_bReflectHandled;
    control->m_bReflectHandled = false;
    result = SendMessageW(control->m_hWnd, REFLECT_BASE + message, wParam, lParam);
    const bool handled = control->m_bReflectHandled;
    control->m_bReflectHandled = outer;
    return handled;
}

LRESULT CWindowSubclass::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return Default(message, wParam, lParam);
}

LRESULT CWindowSubclass::Default(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefSubclassProc(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWindowSubclass::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                               DWORD_PTR data)
{
    auto* self = reinterpret_cast<CWindowSubclass*>(data);
    if (message == WM_NCDESTROY) {
        // The window goes: nothing of ours may be called for it any more.
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        if (self->m_hWnd == window) {
            RemoveWindowSubclass(window, SubclassProc, SUBCLASS_ID);
            RemovePropW(window, OBJECT_PROPERTY);
            self->m_hWnd = nullptr;
        }
        return result;
    }
    return self->WindowProc(message, wParam, lParam);
}
