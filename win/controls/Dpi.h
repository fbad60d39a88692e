#pragma once

#include <windows.h>

// Every size of the window is designed in pixels at 96 dots per inch and scaled to the DPI
// of the window it is used in, so that the program looks the same at 100 %, 150 % and 200 %.
constexpr UINT BASE_DPI = 96;

// The DPI of `window` (its monitor's, for a per-monitor aware program), or BASE_DPI when
// the window is null or the system gives none.
UINT WindowDpi(HWND window);

// `value` designed at 96 DPI, at `dpi`; rounded to the nearest pixel, halves away from zero.
int ScaleForDpi(int value, UINT dpi);

// A pixel value at `dpi` back in 96-DPI units (rounded likewise).
int UnscaleForDpi(int value, UINT dpi);
