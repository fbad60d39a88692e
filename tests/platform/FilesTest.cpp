#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/CReadOnlyFile.h"
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

TEST_F(FilesTest, ReadOnlyFileReadsByPositionAndRefusesNonFiles)
{
    std::string path = m_strDir + "data.bin";
    std::ofstream(path, std::ios::binary) << "hello reader";
    CReadOnlyFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_EQ(file.Size(), 12u);
    char text[6] = {};
    EXPECT_EQ(file.ReadAt(6, text, 6), 0);
    EXPECT_EQ(std::string(text, 6), "reader");

    // A file that shrinks after opening gives a failed read, not a signal.
    ASSERT_EQ(truncate(path.c_str(), 8), 0);
    EXPECT_EQ(file.ReadAt(6, text, 6), CReadOnlyFile::ERROR_SHORT_FILE);
    EXPECT_EQ(file.ReadAt(0, text, 6), 0);
    EXPECT_EQ(CReadOnlyFile::ErrorText(CReadOnlyFile::ERROR_SHORT_FILE), "the file is shorter than when it was opened");
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_NE(file.ReadAt(0, text, 1), 0);

    std::ofstream(m_strDir + "empty.bin");
    EXPECT_TRUE(file.Open(m_strDir + "empty.bin"));
    EXPECT_EQ(file.Size(), 0u);

    EXPECT_FALSE(file.Open(m_strDir));
    EXPECT_FALSE(file.Open(m_strDir + "missing"));
    EXPECT_EQ(file.LastError(), ENOENT);

    // A FIFO is refused at once instead of waiting for a writer.
    ASSERT_EQ(mkfifo((m_strDir + "fifo.bin").c_str(), 0600), 0);
    EXPECT_FALSE(file.Open(m_strDir + "fifo.bin"));
}

TEST_F(FilesTest, OpenUserFileRefusesLinksAndForeignFiles)
{
    std::string path = m_strDir + "own.txt";
    CUniqueFd fd = OpenUserFile(path, O_WRONLY, true);
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

    // A file with a second name is refused under either, for reading (the help file) too.
    std::string second = m_strDir + "second.txt";
    ASSERT_EQ(::link(path.c_str(), second.c_str()), 0);
    for (const std::string& name : {path, second}) {
        errno = 0;
        EXPECT_FALSE(OpenUserFile(name, O_RDONLY, false).Valid()) << name;
        EXPECT_EQ(errno, EMLINK) << name;
    }

    if (geteuid() != 0)
        KIV_SKIP_OR_FAIL("changing a file's owner needs root");
    std::string foreign = m_strDir + "foreign.txt";
    std::ofstream(foreign) << "x";
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    errno = 0;
    EXPECT_FALSE(OpenUserFile(foreign, O_WRONLY, true).Valid());
    EXPECT_EQ(errno, EPERM);
}
