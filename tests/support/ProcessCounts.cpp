#include "tests/support/ProcessCounts.h"

#include <dirent.h>

#include "tests/support/Wait.h"

#include <cstring>

namespace kivtest {

namespace {

// Entries of a /proc directory other than "." and ".."; the descriptor the listing itself
// holds is counted in every listing alike.
int CountEntries(const char* path)
{
    DIR* dir = opendir(path);
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            ++count;
    }
    closedir(dir);
    return count;
}

} // namespace

ProcessCounts ProcessCounts::Now()
{
    return ProcessCounts{CountEntries("/proc/self/task"), CountEntries("/proc/self/fd")};
}

ProcessCounts ProcessCounts::Settled(const ProcessCounts& baseline, int limitMs)
{
    ProcessCounts counts;
    WaitFor(
        [&] {
            counts = Now();
            return !counts.Exceeds(baseline);
        },
        limitMs);
    return counts;
}

bool ProcessCounts::Exceeds(const ProcessCounts& baseline) const
{
    return threads > baseline.threads || fds > baseline.fds;
}

std::string ProcessCounts::Text() const { return "threads=" + std::to_string(threads) + " fds=" + std::to_string(fds); }

} // namespace kivtest
