#include "win/controls/CMyHeaderCtrl.h"

LRESULT CMyHeaderCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETCURSOR: return TRUE; // the cursor stays what it is: no divider cursor
    case WM_LBUTTONDBLCLK: return 0;
    default: return Default(message, wParam, lParam);
    }
}
