#pragma once

#include "win/controls/CWindowSubclass.h"

// Column header of the component list. The dialog sizes the columns itself, so the header
// never shows the divider cursor and ignores double-clicks (no sizing a column to its
// contents); the list refuses the drag of a divider.
class CMyHeaderCtrl : public CWindowSubclass {
protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};
