#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// F1: the help file travels inside the program (resource 152, type "CHM"). It is written to
// the user's temporary directory as "KivUpgradeHelp.chm", hidden, once: a file already there
// is opened unchanged. The shell opens it with the verb "open".
class CHelpCommand {
public:
    static constexpr const wchar_t* FILE_NAME = L"KivUpgradeHelp.chm";

    // Opens `path` for the user; true when it was handed to a viewer.
    using Opener = std::function<bool(HWND owner, const std::wstring& path)>;

    enum class Outcome {
        Opened,     // handed to the viewer
        NoFile,     // no usable help file: the dialog shows warning 136
        OpenFailed, // a file, but nothing opened it
    };

    // The path of a usable help file in `directory` (ending with a backslash): the file
    // already there, or one written from `data` (write access, no sharing, hidden; removed
    // again when not every byte could be written). Empty when there is none: no data, a
    // path longer than MAX_PATH, a directory or link in the way, a failed write.
    static std::wstring Prepare(const std::wstring& directory, const uint8_t* data, size_t size);

    // The help command: Prepare() in the temporary directory with the embedded help, then
    // `opener` (the shell's "open" verb unless a test gives another).
    static Outcome Run(HWND owner, const Opener& opener = ShellOpen);

    // ShellExecuteW with the verb "open", a normal window, `owner` as the owner.
    static bool ShellOpen(HWND owner, const std::wstring& path);
};
