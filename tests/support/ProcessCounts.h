#pragma once

#include <string>

namespace kivtest {

// Threads and open file descriptors of this process, from /proc/self. Taken before and
// after a piece of work, they show a thread or a descriptor left behind.
struct ProcessCounts {
    int threads = -1;
    int fds = -1;

    static ProcessCounts Now();
    // A thread that has been joined can still be listed in /proc/self/task for a moment: the
    // kernel wakes the joiner before it takes the thread's entry away. Settled() waits, up to
    // `limitMs`, until neither count is above `baseline`, and returns the last reading.
    static ProcessCounts Settled(const ProcessCounts& baseline, int limitMs);
    // True when either count is above `baseline`'s: a thread or a descriptor left behind.
    bool Exceeds(const ProcessCounts& baseline) const;
    bool operator==(const ProcessCounts& other) const = default;
    // "threads=N fds=M".
    std::string Text() const;
};

} // namespace kivtest
