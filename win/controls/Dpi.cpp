#include "win/controls/Dpi.h"

UINT WindowDpi(HWND window)
{
    const UINT dpi = window != nullptr ? GetDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : BASE_DPI;
}

int ScaleForDpi(int value, UINT dpi) { return MulDiv(value, static_cast<int>(dpi), static_cast<int>(BASE_DPI)); }

int UnscaleForDpi(int value, UINT dpi)
{
    return dpi != 0 ? MulDiv(value, static_cast<int>(BASE_DPI), static_cast<int>(dpi)) : value;
}
