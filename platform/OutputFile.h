#pragma once

#include <string>

#include "platform/CUniqueFd.h"

// Creates `path`, or empties the file there, for writing a new file the user asked for (an
// image, a sample): readable by others (mode 0644 on POSIX), and never through a symbolic
// link at its last component. Invalid, with errno set, when it cannot be opened.
CUniqueFd CreateOutputFile(const std::string& path);
