#pragma once

#include <string>

namespace kivtest {

// Threads and open file descriptors of this process, from /proc/self. Taken before and
// after a piece of work, they show a thread or a descriptor left behind.
struct ProcessCounts {
    int threads = -1;
    int fds = -1;

    static ProcessCounts Now();
    bool operator==(const ProcessCounts& other) const = default;
    // "threads=N fds=M".
    std::string Text() const;
};

} // namespace kivtest
