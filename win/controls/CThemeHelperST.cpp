#include "win/controls/CThemeHelperST.h"

namespace {
using OpenThemeDataFn = CThemeHelperST::HTHEME(WINAPI*)(HWND, LPCWSTR);
using CloseThemeDataFn = HRESULT(WINAPI*)(CThemeHelperST::HTHEME);
using DrawThemeParentBackgroundFn = HRESULT(WINAPI*)(HWND, HDC, const RECT*);
using DrawThemeBackgroundFn = HRESULT(WINAPI*)(CThemeHelperST::HTHEME, HDC, int, int, const RECT*, const RECT*);
using DrawThemeTextFn = HRESULT(WINAPI*)(CThemeHelperST::HTHEME, HDC, int, int, LPCWSTR, int, DWORD, DWORD,
                                         const RECT*);
using BoolFn = BOOL(WINAPI*)();
} // namespace

CThemeHelperST::CThemeHelperST(const wchar_t* library) : m_hDll(LoadLibraryW(library)) {}

CThemeHelperST::~CThemeHelperST()
{
    if (m_hDll != nullptr)
        FreeLibrary(m_hDll);
}

template <typename F>
F CThemeHelperST::Entry(const char* name) const
{
    if (m_hDll == nullptr)
        return nullptr;
    // Through a function pointer without parameters, the one cast from FARPROC the
    // compiler accepts without a warning.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(m_hDll, name)));
}

CThemeHelperST::HTHEME CThemeHelperST::OpenThemeData(HWND window, LPCWSTR classList) const
{
    const auto open = Entry<OpenThemeDataFn>("OpenThemeData");
    return open != nullptr ? open(window, classList) : nullptr;
}

HRESULT CThemeHelperST::CloseThemeData(HTHEME theme) const
{
    const auto close = Entry<CloseThemeDataFn>("CloseThemeData");
    return close != nullptr ? close(theme) : E_FAIL;
}

HRESULT CThemeHelperST::DrawThemeBackground(HTHEME theme, HWND child, HDC dc, int partId, int stateId, const RECT* rect,
                                            const RECT* clip) const
{
    if (child != nullptr) {
        if (const auto parent = Entry<DrawThemeParentBackgroundFn>("DrawThemeParentBackground"))
            parent(child, dc, rect);
    }
    const auto draw = Entry<DrawThemeBackgroundFn>("DrawThemeBackground");
    return draw != nullptr ? draw(theme, dc, partId, stateId, rect, clip) : E_FAIL;
}

HRESULT CThemeHelperST::DrawThemeText(HTHEME theme, HDC dc, int partId, int stateId, LPCWSTR text, int length,
                                      DWORD flags, DWORD flags2, const RECT* rect) const
{
    const auto draw = Entry<DrawThemeTextFn>("DrawThemeText");
    return draw != nullptr ? draw(theme, dc, partId, stateId, text, length, flags, flags2, rect) : E_FAIL;
}

BOOL CThemeHelperST::IsAppThemed() const
{
    const auto themed = Entry<BoolFn>("IsAppThemed");
    return themed != nullptr ? themed() : FALSE;
}

BOOL CThemeHelperST::IsThemeActive() const
{
    const auto active = Entry<BoolFn>("IsThemeActive");
    return active != nullptr ? active() : FALSE;
}
