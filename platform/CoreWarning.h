#pragma once

#include <functional>
#include <string>

// Warnings that the core raises outside any dialog (for example a UDP port that cannot be
// set up). The desktop program shows them in a modal box on its own thread; the command
// line prints them. Without a handler they go to standard error.

using CoreWarningHandler = std::function<void(const std::string& text)>;

// Installs the handler for the whole process; an empty function restores the default.
void SetCoreWarningHandler(CoreWarningHandler handler);

// Raises a warning. The handler is called on the calling thread and may block until the
// user has seen the message, as a modal box would.
void ShowCoreWarning(const std::string& text);
