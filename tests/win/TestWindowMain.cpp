// kivwin-testwindow: the window's dialog template with its controls and sample rows, and no
// controller behind it (tests/win/TestDialog.h), in a process of its own: what the driver's
// tests drive and the screenshot test photographs. Prints "ready" once the window is up;
// exits 0 when it is closed.
//   kivwin-testwindow.exe [--unthemed]   (--unthemed: as if the theme library were missing)
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tests/win/TestDialog.h"
#include "win/controls/CThemeHelperST.h"

int main(int argc, char** argv)
{
    const bool unthemed = argc > 1 && std::strcmp(argv[1], "--unthemed") == 0;
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    CThemeHelperST theme(unthemed ? L"KivNoSuchTheme.dll" : CThemeHelperST::LIBRARY);
    kivtest::TestDialog dialog(&theme);
    if (!dialog.Create()) {
        std::fprintf(stderr, "kivwin-testwindow: the dialog cannot be made (error %lu)\n", GetLastError());
        return 1;
    }
    dialog.FillSampleRows();
    std::printf("ready\n");
    std::fflush(stdout);
    MSG message;
    while (dialog.IsOpen() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(dialog.Hwnd(), &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
