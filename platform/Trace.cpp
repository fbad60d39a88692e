#include "platform/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_TraceMutex;
std::function<void(const std::string&)> g_TraceSink;
std::atomic<bool> g_TraceOn{false};

struct TraceFromEnvironment {
    TraceFromEnvironment()
    {
        const char* v = std::getenv("KIV_TRACE");
        if (v != nullptr && *v != '\0' && *v != '0') {
            g_TraceSink = [](const std::string& text) { std::fputs(text.c_str(), stderr); };
            g_TraceOn = true;
        }
    }
} g_TraceFromEnvironment;

} // namespace

void SetTraceSink(std::function<void(const std::string&)> sink)
{
    std::lock_guard<std::mutex> lock(g_TraceMutex);
    g_TraceSink = std::move(sink);
    g_TraceOn = static_cast<bool>(g_TraceSink);
}

bool IsTraceEnabled() { return g_TraceOn.load(std::memory_order_relaxed); }

void Trace(const char* format, ...)
{
    if (!IsTraceEnabled())
        return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_TraceMutex);
    if (g_TraceSink)
        g_TraceSink(buffer);
}
