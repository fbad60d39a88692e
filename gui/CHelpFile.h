#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class QWidget;

// The help file travels inside the program (resource 152, type "CHM"). F1 writes it to the
// user's temporary directory as "KivUpgradeHelp.chm" (once: a file already there and owned
// by the user is reused unchanged) and opens it with the desktop's default viewer. When the
// desktop has no application for it, or opening fails, the same pages show in the
// program's own help window (CHelpWindow), so F1 always shows the help.
class CHelpFile {
public:
    static constexpr const char* FILE_NAME = "KivUpgradeHelp.chm";

    // Path of a usable help file in `directory` (ending with '/'), writing `data` there
    // when no file exists yet; empty when there is none (no data, a link or a file of
    // another user in the way, or a short write).
    static std::string Prepare(const std::string& directory, const uint8_t* data, size_t size);
    // Prepare() in the temporary directory with the embedded help.
    static std::string PrepareEmbedded();
    // How the help command showed the help.
    enum class Shown { Desktop, HelpWindow };

    // The help command: opens the file with the desktop's viewer; otherwise (after warning
    // 136 owned by `owner` when there is no usable file) shows the help window.
    static Shown Open(QWidget* owner);
    // True when the desktop names a default application for the type of `path`.
    static bool DesktopHasHandler(const std::string& path);
};
