#pragma once

#include <string>

class CModuleVersion;

// The main window's title, the same for every desktop window: the title resource (STRING
// 150), " - " and the "ProductVersion" of the program's version resource when it can be read,
// then " - Press F1 for Help".

// The title from the resource's text and the version resource (null when unreadable).
std::string ComposeWindowTitle(const std::string& resourceTitle, const CModuleVersion* version);

// The title of the running program, whose file is named `moduleName` ("kivupgrade.exe").
std::string BuildWindowTitle(const std::string& moduleName);
