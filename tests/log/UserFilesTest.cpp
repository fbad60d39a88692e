// The user's temporary directory and the files in it: a directory of the user's own below a
// shared one, refused when planted; files that are links, FIFOs or another user's are
// refused without blocking and without being changed; a download log that cannot be
// written says why, once; a log whose process is killed keeps every line logged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "log/CDownloadLog.h"
#include "platform/UserFiles.h"
#include "tests/support/Files.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/Strict.h"
#include "tests/support/TempDir.h"

namespace {

constexpr uid_t NOBODY = 65534;

// Runs `body` in a child process and gives its result, or nothing when it had not returned
// within `limit` (the child is then killed). The child reports through a pipe, so the wait
// ends as soon as it has returned.
std::optional<int> ResultWithin(const std::function<int()>& body, std::chrono::milliseconds limit)
{
    int fds[2];
    if (pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const char result = static_cast<char>(body());
        (void)!write(fds[1], &result, 1);
        _exit(0);
    }
    close(fds[1]);
    std::optional<int> result;
    pollfd p{fds[0], POLLIN, 0};
    char byte = 0;
    if (pid > 0 && poll(&p, 1, static_cast<int>(limit.count())) == 1 && read(fds[0], &byte, 1) == 1)
        result = byte;
    close(fds[0]);
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return result;
}

using kivtest::ReadFile;
using kivtest::ScopedEnv;

class UserTempDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A shared temporary directory: anyone may create names in it.
        ASSERT_EQ(chmod(m_strBase.c_str(), 01777), 0);
    }

    kivtest::TempDir m_Dir{"kiv-usertemp"};
    const std::string m_strBase = m_Dir.Path();
    const std::string m_strOwn = m_strBase + "/" + USER_TEMP_PREFIX + std::to_string(geteuid());
};

} // namespace

TEST_F(UserTempDirTest, MadeOnFirstUsePrivateAndReused)
{
    std::string why;
    EXPECT_EQ(UserTempDirectoryBelow(m_strBase, &why), m_strOwn + "/") << why;
    struct stat st {};
    ASSERT_EQ(lstat(m_strOwn.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());

    // Ours but opened up: used, and closed again.
    ASSERT_EQ(chmod(m_strOwn.c_str(), 0755), 0);
    EXPECT_EQ(UserTempDirectoryBelow(m_strBase + "/", &why), m_strOwn + "/") << why;
    ASSERT_EQ(stat(m_strOwn.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(UserTempDirTest, PlantedLinkIsRefusedAndNothingIsMadeThroughIt)
{
    const std::string elsewhere = m_strBase + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0777), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), m_strOwn.c_str()), 0);
    std::string why;
    EXPECT_EQ(UserTempDirectoryBelow(m_strBase, &why), "");
    EXPECT_EQ(why, "The temporary directory " + m_strOwn + " cannot be used: it is a symbolic link");
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));

    // Anything else in the way is refused too.
    ASSERT_EQ(unlink(m_strOwn.c_str()), 0);
    std::ofstream(m_strOwn) << "x";
    EXPECT_EQ(UserTempDirectoryBelow(m_strBase, &why), "");
    EXPECT_NE(why.find("it is not a directory"), std::string::npos) << why;
}

TEST_F(UserTempDirTest, DirectoryOfAnotherUserIsRefused)
{
    if (geteuid() != 0)
        KIV_SKIP_OR_FAIL("giving a directory to another user needs root");
    ASSERT_EQ(mkdir(m_strOwn.c_str(), 0777), 0);
    ASSERT_EQ(chown(m_strOwn.c_str(), NOBODY, NOBODY), 0);
    std::string why;
    EXPECT_EQ(UserTempDirectoryBelow(m_strBase, &why), "");
    EXPECT_NE(why.find("it belongs to another user"), std::string::npos) << why;
    EXPECT_TRUE(std::filesystem::is_empty(m_strOwn));
}

TEST_F(UserTempDirTest, TmpdirIsUsedAsTheUserChoseIt)
{
    {
        ScopedEnv tmpdir("TMPDIR", m_strBase);
        EXPECT_EQ(GetTempDirectory(), m_strBase + "/");
    }
    const std::string file = m_strBase + "/file";
    std::ofstream(file) << "x";
    ScopedEnv tmpdir("TMPDIR", file);
    std::string why;
    EXPECT_EQ(GetTempDirectory(&why), "");
    EXPECT_EQ(why, "The temporary directory " + file + " (TMPDIR) is not a directory");
}

TEST_F(UserTempDirTest, FifoInPlaceOfAFileNeverBlocks)
{
    const std::string fifo = m_strBase + "/KivUpgradeLog.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    // Nobody at the other end: a blocking open would wait for ever.
    for (int flags : {O_WRONLY | O_APPEND, O_RDONLY}) {
        const std::optional<int> error = ResultWithin(
            [&] {
                errno = 0;
                return OpenUserFile(fifo, flags, true).Valid() ? -1 : errno;
            },
            std::chrono::seconds(10));
        ASSERT_TRUE(error.has_value()) << "the open blocked, flags " << flags;
        EXPECT_EQ(*error, EINVAL) << "flags " << flags;
    }
    // Someone reading at the other end: still refused.
    CUniqueFd reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(reader.Valid());
    errno = 0;
    EXPECT_FALSE(OpenUserFile(fifo, O_WRONLY | O_APPEND, true).Valid());
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(DescribeOpenError(fifo, EINVAL), fifo + " is not a regular file");
}

TEST_F(UserTempDirTest, FileOfAnotherUserIsNeitherOpenedNorTruncated)
{
    if (geteuid() != 0)
        KIV_SKIP_OR_FAIL("giving a file to another user needs root");
    const std::string foreign = m_strBase + "/KivUpgradeHelp.chm";
    std::ofstream(foreign) << "their own help";
    ASSERT_EQ(chown(foreign.c_str(), NOBODY, NOBODY), 0);
    errno = 0;
    EXPECT_FALSE(OpenUserFile(foreign, O_WRONLY | O_TRUNC, true).Valid());
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(ReadFile(foreign), "their own help");
    EXPECT_EQ(DescribeOpenError(foreign, EPERM), foreign + " belongs to another user");

    // One of our own is truncated as asked.
    const std::string own = m_strBase + "/own.txt";
    std::ofstream(own) << "old text";
    EXPECT_TRUE(OpenUserFile(own, O_WRONLY | O_TRUNC, true).Valid());
    EXPECT_EQ(ReadFile(own), "");
}

// ---- the download log ------------------------------------------------------------------

namespace {

// Counts the calls of a log's failure handler and keeps the last reason.
struct FailureCount {
    int calls = 0;
    std::string why;
    CDownloadLog::FailureHandler Handler()
    {
        return [this](const std::string& text) {
            ++calls;
            why = text;
        };
    }
};

} // namespace

TEST_F(UserTempDirTest, LogInPlaceOfAFifoNeitherBlocksNorIsWritten)
{
    const std::string fifo = m_strBase + "/" + CDownloadLog::FILE_NAME;
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    const std::optional<int> written = ResultWithin(
        [&] {
            CDownloadLog log(fifo);
            LogPrintf(log, "first line");
            return log.Flush() ? 1 : 0;
        },
        std::chrono::seconds(10));
    ASSERT_TRUE(written.has_value()) << "logging blocked on the FIFO";
    EXPECT_EQ(*written, 0);

    // With a reader at the other end nothing reaches it either.
    CUniqueFd reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(reader.Valid());
    FailureCount failures;
    {
        CDownloadLog log(fifo);
        log.SetFailureHandler(failures.Handler());
        LogPrintf(log, "first line");
        LogPrintf(log, "second line");
        EXPECT_FALSE(log.Flush());
        EXPECT_NE(log.GetPending().find("second line\r\n"), std::string::npos);
        EXPECT_EQ(log.GetWriteError(), fifo + " is not a regular file");
        log.SetFailureHandler({});
    }
    char byte = 0;
    EXPECT_LE(read(reader.Get(), &byte, 1), 0) << "a byte went into the FIFO";
    EXPECT_EQ(failures.calls, 1) << "said once, not for every line";
    EXPECT_EQ(failures.why, fifo + " is not a regular file");
}

// A log that is a second name of another file (a hard link anyone can make to a file of
// theirs in a shared directory), or a file of another user: never written, said once.
TEST_F(UserTempDirTest, LogOfAnotherUserOrWithASecondNameIsLeftAloneAndSaidOnce)
{
    const std::string path = m_strBase + "/" + CDownloadLog::FILE_NAME;
    const std::string other = m_strBase + "/other.txt";
    struct Case {
        const char* name;
        std::function<void()> make;
        std::string why;
        bool needsRoot;
    };
    const Case cases[] = {
        {"hard link", [&] { ASSERT_EQ(link(other.c_str(), path.c_str()), 0); },
         path + " has more than one name (a hard link)", false},
        {"other user", [&] { ASSERT_EQ(rename(other.c_str(), path.c_str()), 0); }, path + " belongs to another user",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && geteuid() != 0)
            KIV_SKIP_OR_FAIL("giving a file to another user needs root");
        std::remove(path.c_str());
        std::ofstream(other) << "their text\r\n";
        if (c.needsRoot) {
            ASSERT_EQ(chown(other.c_str(), NOBODY, NOBODY), 0);
        }
        c.make();
        FailureCount failures;
        CDownloadLog log(path);
        log.SetFailureHandler(failures.Handler());
        for (int i = 0; i < 3; ++i)
            LogPrintf(log, "line %d", i);
        EXPECT_EQ(ReadFile(path), "their text\r\n");
        EXPECT_EQ(failures.calls, 1);
        EXPECT_EQ(failures.why, c.why);
        EXPECT_EQ(log.GetWriteError(), failures.why);
        log.SetFailureHandler({});
    }
}

TEST_F(UserTempDirTest, LogWithoutATemporaryDirectorySaysWhy)
{
    const std::string file = m_strBase + "/file";
    std::ofstream(file) << "x";
    ScopedEnv tmpdir("TMPDIR", file);
    FailureCount failures;
    CDownloadLog log;
    log.SetFailureHandler(failures.Handler());
    EXPECT_FALSE(log.IsEnabled());
    LogPrintf(log, "nowhere");
    LogPrintf(log, "still nowhere");
    EXPECT_EQ(failures.calls, 1);
    EXPECT_EQ(failures.why,
              "The temporary directory " + file + " (TMPDIR) is not a directory; the download log is not written");

    // A log made without a file on purpose (tools, tests) stays quiet.
    CDownloadLog quiet((std::string()));
    quiet.SetFailureHandler(failures.Handler());
    LogPrintf(quiet, "kept in memory");
    EXPECT_EQ(quiet.GetWriteError(), "");
    EXPECT_EQ(failures.calls, 1);
}

TEST_F(UserTempDirTest, UnwritableLogKeepsAtMostItsLimitOfTheNewestLines)
{
    CDownloadLog log((std::string()));
    const std::string text(100, 'z');
    const int lines = static_cast<int>(2 * CDownloadLog::MAX_PENDING_BYTES / text.size());
    for (int i = 0; i < lines; ++i)
        LogPrintf(log, "%06d %s", i, text.c_str());
    const std::string pending = log.GetPending();
    EXPECT_LE(pending.size(), CDownloadLog::MAX_PENDING_BYTES);
    EXPECT_GT(pending.size(), CDownloadLog::MAX_PENDING_BYTES / 4);
    // Whole lines only, the newest kept.
    EXPECT_EQ(pending.substr(0, 2), "20");
    char last[16];
    std::snprintf(last, sizeof last, "%06d ", lines - 1);
    EXPECT_NE(pending.find(std::string(last) + text + "\r\n"), std::string::npos);
    EXPECT_EQ(pending.substr(pending.size() - 2), "\r\n");
}

TEST_F(UserTempDirTest, KilledProcessLeavesEveryLineItLogged)
{
    const std::string path = m_strBase + "/" + CDownloadLog::FILE_NAME;
    const std::optional<int> logged = ResultWithin(
        [&] {
            auto* log = new CDownloadLog(path); // never destroyed: the child ends without a flush
            LogPrintf(*log, "DIAG_HandShake: (0,0)");
            LogPrintf(*log, "Firmware Version: %s", "11.608.10.01.00");
            return 3;
        },
        std::chrono::seconds(10));
    ASSERT_EQ(logged, std::optional<int>(3));
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find(" DIAG_HandShake: (0,0)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" Firmware Version: 11.608.10.01.00\r\n"), std::string::npos) << text;
}
