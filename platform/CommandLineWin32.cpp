#include "platform/CommandLine.h"

#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/WideText.h"

CUtf8Arguments::CUtf8Arguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 0; i < count; ++i)
            m_Values.push_back(Utf8FromWide(wide[i], wcslen(wide[i])));
        LocalFree(wide);
    } else {
        for (int i = 0; i < argc; ++i)
            m_Values.emplace_back(argv[i]);
    }
    for (std::string& value : m_Values)
        m_Pointers.push_back(value.data());
    m_Pointers.push_back(nullptr);
}

void UseUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

bool IsInteractiveTerminal(std::FILE* stream)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
