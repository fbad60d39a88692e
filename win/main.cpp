// kivupgrade.exe: the window of the Windows build.
#include <windows.h>

#include "win/CKivOneClickApp.h"

int main()
{
    CKivOneClickApp app;
    return app.InitInstance(GetModuleHandleW(nullptr));
}
