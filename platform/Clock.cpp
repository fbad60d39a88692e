#include "platform/Clock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

double ReadScaleFromEnvironment()
{
    const char* text = std::getenv("KIV_TIME_SCALE");
    if (text == nullptr || *text == '\0')
        return 1.0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0.0)
        return 1.0;
    return value;
}

std::atomic<double>& ScaleCell()
{
    static std::atomic<double> scale{ReadScaleFromEnvironment()};
    return scale;
}

const std::chrono::steady_clock::time_point& Epoch()
{
    static const auto EPOCH = std::chrono::steady_clock::now();
    return EPOCH;
}

// Added to the scaled milliseconds since the epoch. Start somewhere other than zero so that
// callers meet a wrap in long runs, not never.
std::atomic<uint32_t> g_TickOffset{0x10000u};

// Scaled milliseconds since the epoch, cut to 32 bits.
uint32_t ScaledMsSinceEpoch()
{
    using namespace std::chrono;
    // The epoch is taken before the time read against it: on the first call it is set here,
    // and reading the time first would put it a moment before the epoch (a negative count).
    const steady_clock::time_point epoch = Epoch();
    const double realMs = duration<double, std::milli>(steady_clock::now() - epoch).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(std::max(realMs, 0.0) / GetTimeScale()));
}

} // namespace

double GetTimeScale() { return ScaleCell().load(std::memory_order_relaxed); }

void SetTimeScale(double scale)
{
    if (std::isfinite(scale) && scale > 0.0)
        ScaleCell().store(scale, std::memory_order_relaxed);
}

uint32_t GetTickCount() { return ScaledMsSinceEpoch() + g_TickOffset.load(std::memory_order_relaxed); }

void SetTickCount(uint32_t tick) { g_TickOffset.store(tick - ScaledMsSinceEpoch(), std::memory_order_relaxed); }

std::chrono::nanoseconds ScaledDuration(uint32_t ms)
{
    if (ms == INFINITE)
        return std::chrono::nanoseconds::max();
    const double ns = static_cast<double>(ms) * GetTimeScale() * 1e6;
    return std::chrono::nanoseconds(static_cast<int64_t>(ns));
}

int ScaledPollTimeout(uint32_t ms)
{
    if (ms == INFINITE)
        return -1;
    if (ms == 0)
        return 0;
    const double real = std::ceil(static_cast<double>(ms) * GetTimeScale());
    if (real >= 2147483647.0)
        return -1;
    return real < 1.0 ? 1 : static_cast<int>(real);
}

void Sleep(uint32_t ms)
{
    if (ms == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(ScaledDuration(ms));
}
