#pragma once

#include <functional>

#include "tests/support/Loopback.h"

namespace kivtest {

// Waits until `condition` holds, looking again every `intervalMs` (by default every
// millisecond; longer for a condition that reads a file), for at most `limitMs` real
// milliseconds. True when it held in time. For state that gives no notice when it changes
// (a count in the product, a flag a thread sets, a file another process writes); where there
// is a notice (a peer's frames, a process's output), wait on it instead. A condition may do
// the waiting itself (a call that blocks for a while): it is then simply tried until the limit.
bool WaitFor(const std::function<bool()>& condition, int limitMs = GUARD_MS, int intervalMs = 1);

} // namespace kivtest
