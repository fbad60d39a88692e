#pragma once

#include <string>

// Files of the user's that outlive a reboot (the upgrade history): where the XDG base
// directories place them on POSIX (UserStatePosix.cpp), in the local application data
// folder on Windows (UserStateWin32.cpp).

// The user's state directory, ending with '/': $XDG_STATE_HOME when it is set to an
// absolute path, else $HOME/.local/state (the home directory from the user database when
// HOME is not set). Empty, with `why` set, when neither can be formed. Nothing is made.
// On Windows, ending with '\': %LOCALAPPDATA% when it is set to an absolute path, else the
// user's local application data folder as the shell knows it.
std::string UserStateDirectory(std::string* why = nullptr);

// Appends `line` and a line feed to the file at `path` in one write, making the file (mode
// 0600) and its missing directories (mode 0700) first (on Windows they take the folder's
// access list, and '/' and '\' both separate). The file is opened as OpenUserFile
// opens it: never through a link, and only when it is a regular file of the user's. False,
// with `why` set to a sentence, when the line was not written whole.
bool AppendUserLine(const std::string& path, const std::string& line, std::string& why);
