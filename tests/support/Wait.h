#pragma once

#include <functional>

#include "tests/support/Loopback.h"

namespace kivtest {

// Waits until `condition` holds, looking again every millisecond, for at most `limitMs` real
// milliseconds. True when it held in time. For state that gives no notice when it changes
// (a count in the product, a flag a thread sets); where there is a notice (a peer's frames,
// a process's output), wait on it instead.
bool WaitFor(const std::function<bool()>& condition, int limitMs = GUARD_MS);

} // namespace kivtest
