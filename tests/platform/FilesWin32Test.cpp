// Files on Windows: the temporary directory is the user's own from the system, an open image
// keeps writers out, devices and second names are never taken for files, bytes are written as
// they are, and the user's state directory is the local application data folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <windows.h>

#include <cerrno>
#include <fstream>
#include <optional>

#include "platform/CReadOnlyFile.h"
#include "platform/UserFiles.h"
#include "platform/UserState.h"
#include "platform/Utf8Path.h"
#include "platform/WideText.h"
#include "tests/support/Files.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

class FilesWin32Test : public ::testing::Test {
protected:
    kivtest::TempDir m_Dir{"kiv-platform"};
    const std::string m_strDir = m_Dir.Path() + "\\";
};

} // namespace

TEST_F(FilesWin32Test, TempDirectoryIsTheOneTheSystemGivesTheUser)
{
    const std::string dir = GetTempDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    {
        kivtest::ScopedEnv tmp("TMP", m_Dir.Path());
        EXPECT_EQ(GetTempDirectory(), m_strDir);
    }
    const std::string file = m_strDir + "file";
    kivtest::WriteFile(file, "x");
    kivtest::ScopedEnv tmp("TMP", file);
    std::string why;
    EXPECT_EQ(GetTempDirectory(&why), "");
    EXPECT_EQ(why.rfind("The temporary directory " + file, 0), 0u) << why;
}

TEST_F(FilesWin32Test, OpenImageKeepsWritersOutButNotReaders)
{
    const std::string path = m_strDir + "image.bin";
    ASSERT_TRUE(kivtest::WriteFile(path, "hello reader"));
    CReadOnlyFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_FALSE(std::ofstream(PathFromUtf8(path), std::ios::app).is_open()) << "a writer got in";
    CReadOnlyFile second;
    EXPECT_TRUE(second.Open(path));
    second.Close();
    file.Close();
    EXPECT_TRUE(std::ofstream(PathFromUtf8(path), std::ios::app).is_open());

    // A device under a file's name is no image, and opening it must not wait.
    EXPECT_FALSE(file.Open("NUL"));
    EXPECT_EQ(file.LastError(), EINVAL);
}

TEST_F(FilesWin32Test, UserFilesAreWrittenByteForByteAndOnlyWhenTheyAreFiles)
{
    const std::string path = m_strDir + "log.txt";
    {
        CUniqueFd fd = OpenUserFile(path, O_WRONLY | O_APPEND, true);
        ASSERT_TRUE(fd.Valid());
        EXPECT_EQ(WriteAll(fd.Get(), "a\r\nb\n", 5), 5u);
    }
    {
        CUniqueFd fd = OpenUserFile(path, O_WRONLY | O_APPEND, true);
        ASSERT_TRUE(fd.Valid());
        EXPECT_EQ(WriteAll(fd.Get(), "c", 1), 1u);
    }
    EXPECT_EQ(kivtest::ReadFile(path), "a\r\nb\nc") << "no line ends added, appended at the end";
    EXPECT_TRUE(OpenUserFile(path, O_WRONLY | O_TRUNC, false).Valid());
    EXPECT_EQ(kivtest::ReadFile(path), "");

    errno = 0;
    EXPECT_FALSE(OpenUserFile(m_Dir.Path(), O_WRONLY, true).Valid());
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(DescribeOpenError(m_Dir.Path(), errno), m_Dir.Path() + " is not a regular file");
    errno = 0;
    EXPECT_FALSE(OpenUserFile("NUL", O_WRONLY, true).Valid());
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_FALSE(OpenUserFile(m_strDir + "none.txt", O_WRONLY, false).Valid());
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(FilesWin32Test, StateDirectoryIsTheLocalApplicationDataFolder)
{
    const struct {
        std::optional<std::string> localAppData;
        std::string directory; // empty: the shell's folder, whatever it is
    } CASES[] = {
        {m_Dir.Path(), m_strDir}, {m_strDir, m_strDir}, {"\\\\server\\share", "\\\\server\\share\\"},
        {"relative\\state", ""},  {std::nullopt, ""},
    };
    for (const auto& c : CASES) {
        kivtest::ScopedEnv localAppData("LOCALAPPDATA", c.localAppData);
        std::string why;
        const std::string dir = UserStateDirectory(&why);
        if (!c.directory.empty()) {
            EXPECT_EQ(dir, c.directory);
            continue;
        }
        ASSERT_GE(dir.size(), 4u) << why;
        EXPECT_EQ(dir.substr(1, 2), ":\\") << dir;
        EXPECT_EQ(dir.back(), '\\') << dir;
    }
}

// The history's folders are made as needed, with either separator; lines are appended; a
// file with a second name is never written, as on POSIX.
TEST_F(FilesWin32Test, UserLinesAreAppendedButNeverThroughASecondName)
{
    const std::string path = m_strDir + "state/kivupgrade\\history.jsonl";
    std::string why;
    ASSERT_TRUE(AppendUserLine(path, "one", why)) << why;
    ASSERT_TRUE(AppendUserLine(path, "two", why)) << why;
    EXPECT_EQ(kivtest::ReadFile(path), "one\ntwo\n");

    const std::string second = m_strDir + "second-name.jsonl";
    ASSERT_TRUE(CreateHardLinkW(WideFromUtf8(second).c_str(), WideFromUtf8(path).c_str(), nullptr));
    for (const std::string& name : {path, second}) {
        errno = 0;
        EXPECT_FALSE(OpenUserFile(name, O_WRONLY | O_APPEND, true).Valid()) << name;
        EXPECT_EQ(errno, EMLINK) << name;
        EXPECT_FALSE(AppendUserLine(name, "three", why));
        EXPECT_EQ(why, name + " has more than one name (a hard link)");
    }
    EXPECT_EQ(kivtest::ReadFile(path), "one\ntwo\n");
}
