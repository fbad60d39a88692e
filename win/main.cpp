// kivupgrade.exe: the window of the Windows build.
#include <windows.h>

#include <cstdio>

#include "app/WindowCommandLine.h"
#include "platform/CommandLine.h"
#include "win/CKivOneClickApp.h"

namespace {
// A windowed program started from a console has no standard output of its own: --help,
// --version and a usage error are written to the console it was started from, if any.
// Output that is redirected (a pipe, a file) already has its handles and keeps them.
void UseParentConsole()
{
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE)
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::FILE* stream = nullptr;
    freopen_s(&stream, "CONOUT$", "w", stdout);
    freopen_s(&stream, "CONOUT$", "w", stderr);
}
} // namespace

int main(int rawArgc, char** rawArgv)
{
    CUtf8Arguments arguments(rawArgc, rawArgv);
    UseParentConsole();
    UseUtf8Console();
    WindowOptions options;
    if (const int status = HandleWindowCommandLine(arguments.Count(), arguments.Values(), options); status >= 0)
        return status;
    CKivOneClickApp app;
    app.SetOptions(options);
    return app.InitInstance(GetModuleHandleW(nullptr));
}
