#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "platform/CReadOnlyFile.h"
#include "platform/UserFiles.h"
#include "tests/support/TempDir.h"

namespace {

class FilesTest : public ::testing::Test {
protected:
    kivtest::TempDir m_Dir{"kiv-platform"};
    const std::string m_strDir = m_Dir.Path() + "/";
};

} // namespace

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
    EXPECT_EQ(file.ReadAt(8, text, 6), CReadOnlyFile::ERROR_SHORT_FILE);
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
}
