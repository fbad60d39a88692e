#pragma once

#include <windows.h>

// Themed drawing through the visual-styles library, loaded when the helper is made and
// looked up by name at every call, so that the program runs where the library or one of
// its entries is missing. Without them every call falls back: OpenThemeData gives null,
// IsAppThemed and IsThemeActive give FALSE, the others return E_FAIL. One helper serves
// the whole program; it lives longer than every button that uses it.
class CThemeHelperST {
public:
    using HTHEME = HANDLE;

    // Push-button part and its states.
    static constexpr int BP_PUSHBUTTON = 1;
    static constexpr int PBS_NORMAL = 1;
    static constexpr int PBS_HOT = 2;
    static constexpr int PBS_PRESSED = 3;
    static constexpr int PBS_DISABLED = 4;
    static constexpr int PBS_DEFAULTED = 5;

    // The library of the system's visual styles.
    static constexpr const wchar_t* LIBRARY = L"UxTheme.dll";

    // Loads `library` (tests name one that is missing, or one without the entries).
    explicit CThemeHelperST(const wchar_t* library = LIBRARY);
    ~CThemeHelperST();
    CThemeHelperST(const CThemeHelperST&) = delete;
    CThemeHelperST& operator=(const CThemeHelperST&) = delete;

    // True when the library was loaded.
    bool IsLoaded() const { return m_hDll != nullptr; }

    HTHEME OpenThemeData(HWND window, LPCWSTR classList) const;
    HRESULT CloseThemeData(HTHEME theme) const;
    // Draws the background of `child`'s parent first when `child` is given and the
    // library has that entry, then the part.
    HRESULT DrawThemeBackground(HTHEME theme, HWND child, HDC dc, int partId, int stateId, const RECT* rect,
                                const RECT* clip) const;
    HRESULT DrawThemeText(HTHEME theme, HDC dc, int partId, int stateId, LPCWSTR text, int length, DWORD flags,
                          DWORD flags2, const RECT* rect) const;
    BOOL IsAppThemed() const;
    BOOL IsThemeActive() const;

private:
    // The entry `name` as a function of type F, or null.
    template <typename F>
    F Entry(const char* name) const;

    HMODULE m_hDll;
};
