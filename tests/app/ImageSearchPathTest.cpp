// Where the programs look for "*.bin" images when they carry none.
#include <gtest/gtest.h>

#include "app/ImageSearchPath.h"

namespace {

using Dirs = std::vector<std::string>;

TEST(ImageSearchPath, InstalledProgramAlsoSearchesTheInstallationsImageDirectory)
{
    EXPECT_EQ(ImageSearchDirectories("/usr/bin/"), (Dirs{"/usr/bin/", "/usr/share/kivupgrade/images/"}));
    EXPECT_EQ(ImageSearchDirectories("/opt/kiv-1.2/bin"),
              (Dirs{"/opt/kiv-1.2/bin/", "/opt/kiv-1.2/share/kivupgrade/images/"}));
    EXPECT_EQ(ImageSearchDirectories("/tmp/root/usr/./bin/"),
              (Dirs{"/tmp/root/usr/./bin/", "/tmp/root/usr/share/kivupgrade/images/"}));
}

TEST(ImageSearchPath, OtherProgramsSearchOnlyTheirOwnDirectory)
{
    EXPECT_EQ(ImageSearchDirectories("/work/build/cli/"), (Dirs{"/work/build/cli/"}));
    EXPECT_EQ(ImageSearchDirectories("/usr/sbin/"), (Dirs{"/usr/sbin/"}));
    EXPECT_EQ(ImageSearchDirectories("/home/u/binaries/"), (Dirs{"/home/u/binaries/"}));
    EXPECT_EQ(ImageSearchDirectories(""), Dirs{});
}

TEST(ImageSearchPath, ProgramDirectoryIsThisTestsOwn)
{
    const std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_NE(dir.find("/tests/app/"), std::string::npos) << dir;
}

} // namespace
