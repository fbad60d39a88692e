// Where the programs look for "*.bin" images when they carry none.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/ImageSearchPath.h"
#include "platform/Utf8Path.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

using Dirs = std::vector<std::string>;

// The directories for `programDir`, the paths on both sides written as this system writes them.
void ExpectSearch(const std::string& programDir, const Dirs& expected)
{
    Dirs native;
    for (const std::string& dir : expected)
        native.push_back(kivtest::NativePath(dir));
    EXPECT_EQ(ImageSearchDirectories(kivtest::NativePath(programDir)), native) << programDir;
}

// Without an image directory beside it, a program directory named "bin" is searched first,
// then the installation's image directory (not there yet).
TEST(ImageSearchPath, BinWithoutAnImageDirectoryKeepsTheBuildOrder)
{
    ExpectSearch("/opt/kiv-1.2/bin", {"/opt/kiv-1.2/bin/", "/opt/kiv-1.2/share/kivupgrade/images/"});
    ExpectSearch("/tmp/no-such-root/usr/./bin/",
                 {"/tmp/no-such-root/usr/./bin/", "/tmp/no-such-root/usr/share/kivupgrade/images/"});
}

TEST(ImageSearchPath, OtherProgramsSearchOnlyTheirOwnDirectory)
{
    ExpectSearch("/work/build/cli/", {"/work/build/cli/"});
    ExpectSearch("/home/u/binaries/", {"/home/u/binaries/"});
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
        ExpectSearch(root / c.programDir, expected);
    }
}

TEST(ImageSearchPath, ProgramDirectoryIsThisTestsOwn)
{
    const std::string dir = ProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(PathFromUtf8(dir).is_absolute()) << dir;
    EXPECT_EQ(dir.back(), kivtest::NativePath("/").back());
    EXPECT_NE(dir.find(kivtest::NativePath("/tests/app/")), std::string::npos) << dir;
}

} // namespace
