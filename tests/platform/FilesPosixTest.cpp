// Files on POSIX: the temporary directory's separator, a file shortened under the reader,
// FIFOs, symbolic links, modes and owners.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <fstream>

#include "platform/CReadOnlyFile.h"
#include "platform/UserFiles.h"
#include "tests/support/Strict.h"
#include "tests/support/TempDir.h"

namespace {

class FilesPosixTest : public ::testing::Test {
protected:
    kivtest::TempDir m_Dir{"kiv-platform"};
    const std::string m_strDir = m_Dir.Path() + "/";
};

} // namespace

TEST_F(FilesPosixTest, TempDirectoryEndsWithSeparator)
{
    std::string dir = GetTempDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
}

TEST_F(FilesPosixTest, ReadOnlyFileShortenedOrAFifoFailsWithoutBlocking)
{
    std::string path = m_strDir + "data.bin";
    std::ofstream(path, std::ios::binary) << "hello reader";
    CReadOnlyFile file;
    ASSERT_TRUE(file.Open(path));
    char text[6] = {};
    // A file that shrinks after opening gives a failed read, not a signal.
    ASSERT_EQ(truncate(path.c_str(), 8), 0);
    EXPECT_EQ(file.ReadAt(6, text, 6), CReadOnlyFile::ERROR_SHORT_FILE);
    EXPECT_EQ(file.ReadAt(0, text, 6), 0);

    // A FIFO is refused at once instead of waiting for a writer.
    ASSERT_EQ(mkfifo((m_strDir + "fifo.bin").c_str(), 0600), 0);
    EXPECT_FALSE(file.Open(m_strDir + "fifo.bin"));
}

TEST_F(FilesPosixTest, OpenUserFileRefusesLinksAndForeignFiles)
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
