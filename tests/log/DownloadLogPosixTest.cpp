// The download log on POSIX: a symbolic link in its place, and a disk that fills up (a file
// size limit) in the middle of a write.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>

#include "log/CDownloadLog.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

class DownloadLogPosixTest : public ::testing::Test {
protected:
    kivtest::TempDir m_Dir{"kiv-log"};
    const std::string m_strDir = m_Dir.Path() + "/";
};

using kivtest::ReadFile;

const std::regex LINE(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} (.*)\r\n)");

} // namespace

TEST_F(DownloadLogPosixTest, SymlinkedPathKeepsLinesPending)
{
    std::string target = m_strDir + "target.txt";
    std::string link = m_strDir + "KivUpgradeLog.txt";
    std::ofstream(target) << "";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    CDownloadLog log(link);
    LogPrintf(log, "kept");
    EXPECT_FALSE(log.Flush());
    EXPECT_NE(log.GetPending().find("kept\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(target), "");
}

TEST_F(DownloadLogPosixTest, FailedWriteKeepsWhatDidNotReachTheFile)
{
    std::string path = m_strDir + "full.txt";
    CDownloadLog log(path);
    std::string all;

    // A file size limit makes the writes fail part way, like a full disk.
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &saved);
    rlimit limit{}, savedLimit{};
    getrlimit(RLIMIT_FSIZE, &savedLimit);
    limit = savedLimit;
    limit.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &limit);
    for (int i = 0; i < 20; ++i)
        LogPrintf(log, "line %02d with some text to fill the file", i);
    bool flushed = log.Flush();
    setrlimit(RLIMIT_FSIZE, &savedLimit);
    sigaction(SIGXFSZ, &saved, nullptr);

    EXPECT_FALSE(flushed);
    EXPECT_NE(log.GetWriteError().find("full.txt failed"), std::string::npos) << log.GetWriteError();
    std::string written = ReadFile(path);
    EXPECT_EQ(written.size(), 100u);
    all = written + log.GetPending();
    EXPECT_EQ(std::regex_replace(all, LINE, ""), "") << "no byte lost, none doubled";
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 20);
    EXPECT_TRUE(log.Flush());
    EXPECT_EQ(ReadFile(path), all);
    EXPECT_EQ(log.GetWriteError(), "") << "everything reached the file in the end";
}
