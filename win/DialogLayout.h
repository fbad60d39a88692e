#pragma once

#include <windows.h>

#include "app/CKivOneClickDlg.h"

// The dialog's layout at any DPI. The controller's layout numbers are pixels at 96 DPI
// (CKivOneClickDlg::ComputeLayout, MinimumWidth, MinimumHeight); the window works them out
// for its client size in 96-DPI units and scales the result to its own DPI.

using LayoutFunction = KivLayout (*)(int clientWidth, int clientHeight, int summaryHeight);
using MinimumWidthFunction = int (*)(int frameWidth);
using MinimumHeightFunction = int (*)(int captionHeight, int frameHeight);

// The controls' places for a client area of `clientWidth` x `clientHeight` pixels at `dpi`.
KivLayout ScaledLayout(LayoutFunction compute, int clientWidth, int clientHeight, UINT dpi, int summaryHeight = 0);

// The smallest window size at `dpi`, from the frame and caption sizes at that DPI.
SIZE ScaledMinimumSize(MinimumWidthFunction minimumWidth, MinimumHeightFunction minimumHeight, UINT dpi);

// The control that shows the summary lines under the list.
constexpr int SUMMARY_CONTROL_ID = 1014;

// Moves the dialog's "&Check", "&Upgrade", list and summary controls to `layout` (pixels) at
// once; a negative width or height counts as 0.
void PlaceControls(HWND dialog, const KivLayout& layout);
