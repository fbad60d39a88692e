// Cost of one download-log line written to the file as it is logged (open, lock, append,
// close) against the same line only collected in memory, as a log that writes at the end
// of a run would do. Both include the time stamp and the formatting.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <unistd.h>

#include "log/CDownloadLog.h"
#include "platform/UserFiles.h"

namespace {

void BM_LogLineCollectedInMemory(benchmark::State& state)
{
    CDownloadLog log{""}; // no file: the lines stay in memory
    int n = 0;
    for (auto _ : state)
        LogPrintf(log, "Downloading the firmware of the wireless module: block %d", ++n);
}
BENCHMARK(BM_LogLineCollectedInMemory);

void BM_LogLineWrittenToFile(benchmark::State& state)
{
    const std::string path = GetTempDirectory() + "kiv-bench-log-" + std::to_string(getpid()) + ".txt";
    {
        CDownloadLog log(path);
        int n = 0;
        for (auto _ : state)
            LogPrintf(log, "Downloading the firmware of the wireless module: block %d", ++n);
        if (!log.GetWriteError().empty())
            state.SkipWithError(log.GetWriteError().c_str());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_LogLineWrittenToFile);

} // namespace
