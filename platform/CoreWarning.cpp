#include "platform/CoreWarning.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_WarningMutex;
CoreWarningHandler g_WarningHandler;

} // namespace

void SetCoreWarningHandler(CoreWarningHandler handler)
{
    std::lock_guard<std::mutex> lock(g_WarningMutex);
    g_WarningHandler = std::move(handler);
}

void ShowCoreWarning(const std::string& text)
{
    CoreWarningHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_WarningMutex);
        handler = g_WarningHandler;
    }
    // Called outside the lock: a handler that waits for the user must not block others
    // from installing or raising warnings.
    if (handler)
        handler(text);
    else
        std::fprintf(stderr, "Warning: %s\n", text.c_str());
}
