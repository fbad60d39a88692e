// Files on Windows: the temporary directory is the user's own from the system, an open image
// keeps writers out, devices are never taken for files, and bytes are written as they are.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <cerrno>
#include <fstream>

#include "platform/CReadOnlyFile.h"
#include "platform/UserFiles.h"
#include "platform/Utf8Path.h"
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
