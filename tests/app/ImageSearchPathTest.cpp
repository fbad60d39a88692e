// Where the programs look for "*.bin" images when they carry none.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/ImageSearchPath.h"
#include "tests/support/TempDir.h"

namespace {

using Dirs = std::vector<std::string>;

// Without an image directory beside it, a program directory named "bin" is searched first,
// then the installation's image directory (not there yet).
TEST(ImageSearchPath, BinWithoutAnImageDirectoryKeepsTheBuildOrder)
{
    EXPECT_EQ(ImageSearchDirectories("/opt/kiv-1.2/bin"),
              (Dirs{"/opt/kiv-1.2/bin/", "/opt/kiv-1.2/share/kivupgrade/images/"}));
    EXPECT_EQ(ImageSearchDirectories("/tmp/no-such-root/usr/./bin/"),
              (Dirs{"/tmp/no-such-root/usr/./bin/", "/tmp/no-such-root/usr/share/kivupgrade/images/"}));
}

TEST(ImageSearchPath, OtherProgramsSearchOnlyTheirOwnDirectory)
{
    EXPECT_EQ(ImageSearchDirectories("/work/build/cli/"), (Dirs{"/work/build/cli/"}));
    EXPECT_EQ(ImageSearchDirectories("/home/u/binaries/"), (Dirs{"/home/u/binaries/"}));
    EXPECT_EQ(ImageSearchDirectories(""), Dirs{});
}

// Both layouts on disk: an installation (the package's /usr, an unpacked tarball, whatever
// its folder is named) takes its image directory alone; a build folder its own directory.
TEST(ImageSearchPath, InstalledLayoutNeverSearchesTheProgramsDirectory)
{
    kivtest::TempDir root;
    namespace fs = std::filesystem;
    for (const char* dir : {"usr/bin", "usr/share/kivupgrade/images", "tarball/bin", "tarball/share/kivupgrade/images",
                            "tarball/libexec", "build/cli", "build/share/other"})
        fs::create_directories(root / dir);
    const struct {
        const char* programDir;
        Dirs expected;
    } CASES[] = {
        {"usr/bin/", {"usr/share/kivupgrade/images/"}},
        {"tarball/bin", {"tarball/share/kivupgrade/images/"}},
        {"tarball/libexec/", {"tarball/share/kivupgrade/images/"}},
        {"build/cli/", {"build/cli/"}},
    };
    for (const auto& c : CASES) {
        Dirs expected;
        for (const std::string& dir : c.expected)
            expected.push_back(root / dir);
        EXPECT_EQ(ImageSearchDirectories(root / c.programDir), expected) << c.programDir;
    }
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
