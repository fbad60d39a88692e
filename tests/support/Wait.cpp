#include "tests/support/Wait.h"

#include <chrono>
#include <thread>

namespace kivtest {

bool WaitFor(const std::function<bool()>& condition, int limitMs, int intervalMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
    return true;
}

} // namespace kivtest
