#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CFileMapping.h"
#include "platform/UserFiles.h"
#include "tests/support/Strict.h"
#include "tests/support/TempDir.h"

namespace {

class FilesTest : public ::testing::Test {
protected:
    kivtest::TempDir m_Dir{"kiv-platform"};
    const std::string m_strDir = m_Dir.Path() + "/";
};

} // namespace

TEST_F(FilesTest, TempDirectoryEndsWithSeparator)
{
    std::string dir = GetTempDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
}

TEST_F(FilesTest, MappingGivesTheFileBytesAndRefusesNonFiles)
{
    std::string path = m_strDir + "data.bin";
    std::ofstream(path, std::ios::binary) << "hello mapping";
    CFileMapping map;
    ASSERT_TRUE(map.Open(path));
    ASSERT_EQ(map.Size(), 13u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(map.Data()), map.Size()), "hello mapping");
    map.Close();
    EXPECT_EQ(map.Data(), nullptr);

    std::ofstream(m_strDir + "empty.bin");
    EXPECT_TRUE(map.Open(m_strDir + "empty.bin"));
    EXPECT_EQ(map.Size(), 0u);

    EXPECT_FALSE(map.Open(m_strDir));
    EXPECT_FALSE(map.Open(m_strDir + "missing"));
    EXPECT_EQ(map.LastError(), ENOENT);

    // A FIFO is refused at once instead of waiting for a writer.
    ASSERT_EQ(mkfifo((m_strDir + "fifo.bin").c_str(), 0600), 0);
    EXPECT_FALSE(map.Open(m_strDir + "fifo.bin"));
}

TEST_F(FilesTest, OpenUserFileRefusesLinksAndForeignFiles)
{
    std::string path = m_strDir + "own.txt";
    UniqueFd fd = OpenUserFile(path, O_WRONLY, true);
    ASSERT_TRUE(fd.Valid());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(WriteAll(fd.Get(), "abc", 3), 3u);
    fd.Reset();

    std::string link = m_strDir + "link.txt";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    errno = 0;
    EXPECT_FALSE(OpenUserFile(link, O_WRONLY, true).Valid());
    EXPECT_EQ(errno, ELOOP);

    EXPECT_FALSE(OpenUserFile(m_strDir, O_RDONLY, false).Valid());
    EXPECT_FALSE(OpenUserFile(m_strDir + "none.txt", O_WRONLY, false).Valid());

    if (geteuid() != 0)
        KIV_SKIP_OR_FAIL("changing a file's owner needs root");
    std::string foreign = m_strDir + "foreign.txt";
    std::ofstream(foreign) << "x";
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    errno = 0;
    EXPECT_FALSE(OpenUserFile(foreign, O_WRONLY, true).Valid());
    EXPECT_EQ(errno, EPERM);
}
