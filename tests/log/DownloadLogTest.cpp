#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>

#include "log/CDownloadLog.h"
#include "log/ErrorText.h"
#include "platform/UserFiles.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

class DownloadLogTest : public ::testing::Test {
protected:
    kivtest::TempDir m_Dir{"kiv-log"};
    const std::string m_strDir = m_Dir.Path() + "/";
};

using kivtest::ReadFile;

const std::regex LINE(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} (.*)\r\n)");

#ifdef _WIN32
constexpr uint32_t CONNECTION_RESET = 10054; // Winsock's code for a connection reset by the peer
#else
constexpr uint32_t CONNECTION_RESET = ECONNRESET;
#endif

} // namespace

TEST_F(DownloadLogTest, DefaultPathIsInTheTemporaryDirectory)
{
    CDownloadLog log;
    EXPECT_TRUE(log.IsEnabled());
    EXPECT_EQ(log.GetPath(), GetTempDirectory() + "KivUpgradeLog.txt");
}

TEST_F(DownloadLogTest, LinesReachTheFileAsTheyAreLoggedAndRunsAppend)
{
    std::string path = m_strDir + "KivUpgradeLog.txt";
    {
        CDownloadLog log(path);
        EXPECT_FALSE(log.Flush()) << "nothing pending";
        EXPECT_FALSE(std::filesystem::exists(path)) << "an empty flush creates no file";
        EXPECT_TRUE(LogPrintf(log, "step %d of %s", 3, "upgrade"));
        // In the file at once, not at the next flush: a run killed now keeps it.
        EXPECT_TRUE(std::regex_match(ReadFile(path), LINE)) << ReadFile(path);
        LogPrintf(&log, "开始升级");
        EXPECT_TRUE(LogPrintf(static_cast<CDownloadLog*>(nullptr), "ignored"));
        EXPECT_EQ(log.GetPending(), "");
        EXPECT_FALSE(log.Flush()) << "everything is written already";
        LogPrintf(log, "%s", std::string(50, '+').c_str());
        EXPECT_EQ(log.GetWriteError(), "");
        // A directory's name holding terminal escapes, a router's text with a lone CR: the
        // file gets them printable, so that showing it cannot drive the terminal.
        LogPrintf(log, "Images from %s", "/tmp/x\x1b]0;PWN\x07\x1b[2J/");
        LogPrintf(log, "Router text %s",
                  "1.0\r\xE2\x80\xAE"
                  "0.7");
    }
    {
        CDownloadLog second(path); // a second run appends
        LogPrintf(second, "second run");
    }
    std::string text = ReadFile(path);
    std::vector<std::string> messages;
    for (std::sregex_iterator it(text.begin(), text.end(), LINE), end; it != end; ++it)
        messages.push_back((*it)[1]);
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(messages, (std::vector<std::string>{"step 3 of upgrade", "开始升级", std::string(50, '+'),
                                                  "Images from /tmp/x" + r + "]0;PWN" + r + r + "[2J/",
                                                  "Router text 1.0" + r + r + "0.7", "second run"}));
    EXPECT_EQ(std::regex_replace(text, LINE, ""), "") << "every byte belongs to a line";

    // A line break inside a message (a system error text ends with one) is CR LF.
    CDownloadLog memory("");
    LogPrintf(memory, "failed: %s", "Connection refused\r\n");
    LogPrintf(memory, "two\nlines");
    EXPECT_NE(memory.GetPending().find(" failed: Connection refused\r\n\r\n"), std::string::npos);
    EXPECT_NE(memory.GetPending().find(" two\r\nlines\r\n"), std::string::npos);
}

TEST_F(DownloadLogTest, LongMessagesAreCutAndStillEndTheLine)
{
    CDownloadLog log(m_strDir + "long.txt");
    LogPrintf(log, "%s", std::string(2000, 'x').c_str());
    LogPrintf(log, "%s", (std::string(1037, 'y') + "\xE2\x82\xAC").c_str()); // euro sign across the cut
    std::string written = ReadFile(m_strDir + "long.txt");
    std::vector<std::string> messages;
    for (std::sregex_iterator it(written.begin(), written.end(), LINE), end; it != end; ++it)
        messages.push_back((*it)[1]);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], std::string(1039, 'x'));
    EXPECT_EQ(messages[1], std::string(1037, 'y')) << "a cut never splits a character";
}

TEST_F(DownloadLogTest, UnusablePathKeepsLinesPending)
{
    CDownloadLog directory(m_strDir);
    LogPrintf(directory, "kept too");
    EXPECT_FALSE(directory.Flush());
    EXPECT_FALSE(directory.GetPending().empty());

    CDownloadLog disabled((std::string()));
    LogPrintf(disabled, "nowhere");
    EXPECT_FALSE(disabled.IsEnabled());
    EXPECT_FALSE(disabled.Flush());
}

TEST(ErrorText, KnownAndUnknownCodes)
{
    EXPECT_EQ(GetErrorText(999999), "Unknow Error Code: 999999\n");
    const std::string reset = GetErrorText(CONNECTION_RESET);
    // Windows' own text says "forcibly closed"; Wine's and the C library's say "reset".
    EXPECT_TRUE(reset.find("reset") != std::string::npos || reset.find("forcibly closed") != std::string::npos)
        << reset;
    // A system error given as an error code reads the same; an error of another kind
    // brings its own category's text.
    EXPECT_EQ(GetErrorText(std::error_code(static_cast<int>(CONNECTION_RESET), std::system_category())), reset);
    const std::string other = GetErrorText(std::make_error_code(std::future_errc::broken_promise));
    EXPECT_EQ(other, std::make_error_code(std::future_errc::broken_promise).message() + "\r\n");
    EXPECT_EQ(GetErrorText(std::error_code()), "The operation completed successfully.\r\n");
    EXPECT_EQ(reset.substr(reset.size() - 2), "\r\n");
}
