#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "images/CBinFile.h"
#include "images/CSampleImage.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace {

// A run of kivimage: its exit status and what it wrote to standard output and error.
struct RunResult {
    int status = -1;
    std::string output;
};

class KivImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_pDir = std::make_unique<kivtest::TempDir>("kiv-kivimage");
        s_strDir = s_pDir->Path();
        // A smaller firmware keeps the test quick; the layout is the same.
        RunResult r = Run({"samples", s_strDir, "--firmware-size", "300001"});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static void TearDownTestSuite() { s_pDir.reset(); }

    static RunResult Run(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), kivtest::BuildProgram(kivtest::IMAGE_PROGRAM));
        const kivtest::RunResult run = kivtest::RunProgram(arguments);
        return RunResult{run.status, run.out + run.err};
    }

    static std::string Sample(const SampleImage::SampleInfo& s)
    {
        return s_strDir + "/" + s.m_strFamily + "/" + s.m_strFileName;
    }

    static std::string CopyWithFlip(const std::string& from, const std::string& name, size_t offset)
    {
        std::string to = s_strDir + "/" + name;
        EXPECT_TRUE(kivtest::WriteFile(to, kivtest::ReadFile(from)));
        EXPECT_TRUE(kivtest::FlipByte(to, offset));
        return to;
    }

    static inline std::unique_ptr<kivtest::TempDir> s_pDir;
    static inline std::string s_strDir;
};

} // namespace

TEST_F(KivImageTest, EverySampleVerifiesAsItsType)
{
    for (const SampleImage::SampleInfo& s : SampleImage::GetSampleCatalogue()) {
        RunResult r = Run({"verify", Sample(s)});
        EXPECT_EQ(r.status, 0) << Sample(s) << ": " << r.output;
        EXPECT_NE(r.output.find(s.m_strVersion), std::string::npos) << r.output;
        r = Run({"verify", Sample(s), "--expect", std::to_string(s.m_nType)});
        EXPECT_EQ(r.status, 0) << r.output;
    }
    RunResult wrong = Run({"verify", s_strDir + "/a/boot.bin", "--expect", "firmware"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.output.find("not recognised"), std::string::npos) << wrong.output;
}

TEST_F(KivImageTest, FlippedBytesNameThePartAndTheBlock)
{
    std::string firmware = s_strDir + "/a/firmware.bin";
    CBinFile file;
    file.SetPath(firmware);
    ASSERT_TRUE(file.Open(IMG_NONE));
    // Every block of every part: a flipped data byte names exactly that part and block.
    for (size_t part = 0; part < file.GetPartCount(); ++part) {
        const DataSpan span = file.GetSpan(part);
        const uint32_t blockSize = file.GetHeader(part).m_nBlockSize;
        const uint32_t blocks = file.GetHeader(part).BlockCount();
        for (uint32_t block : {0u, blocks / 2, blocks - 1}) {
            size_t offset = span.m_nOffset + static_cast<size_t>(block) * blockSize;
            RunResult r = Run({"verify", CopyWithFlip(firmware, "flip.bin", offset)});
            EXPECT_NE(r.status, 0);
            std::string expected = "part " + std::to_string(part) + " block " + std::to_string(block) +
                                   ": checksum mismatch";
            EXPECT_NE(r.output.find(expected), std::string::npos) << expected << " / " << r.output;
        }
        // A flipped byte of the part header (its target address field).
        size_t header = span.m_nOffset - file.GetHeader(part).m_nHeaderSize;
        RunResult r = Run({"verify", CopyWithFlip(firmware, "flip.bin", header + 21)});
        EXPECT_NE(r.output.find("part " + std::to_string(part) + ": header checksum mismatch"), std::string::npos)
            << r.output;
    }
}

TEST_F(KivImageTest, CreateAndInfoRoundTrip)
{
    std::string data = s_strDir + "/payload.dat";
    std::ofstream(data, std::ios::binary) << std::string(5000, 'p');
    std::string image = s_strDir + "/special.bin";
    RunResult r = Run({"create", image, "--type", "special-html", "-V", "3.2.9.9", "--part",
                       data + ",address=0x2000,unlock=SECRET12,block=1024", "--part", data});
    ASSERT_EQ(r.status, 0) << r.output;
    r = Run({"info", image, "--expect", "4"});
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* text : {"special-html (4)", "3.2.9.9", "SECRET12", "0x00002000", "kind bits      0x0000001E"})
        EXPECT_NE(r.output.find(text), std::string::npos) << text << "\n" << r.output;

    EXPECT_EQ(Run({"create", image, "--type", "nine", "--part", data}).status, 2);
    EXPECT_EQ(Run({"create", image, "--type", "boot", "--part", data + ",bogus=1"}).status, 2);
    EXPECT_EQ(Run({"verify", s_strDir + "/missing.bin"}).status, 1);
    EXPECT_EQ(Run({"frobnicate"}).status, 2);
}

// Paths with spaces and characters of several scripts reach the files and come back in the
// output unchanged (on Windows the arguments and the file calls go through UTF-16).
TEST_F(KivImageTest, PathsWithSpacesAndNonAsciiCharactersWork)
{
    const std::string dir = s_strDir + "/Bilder für den 路由器";
    RunResult r = Run({"samples", dir, "--firmware-size", "1024"});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string image = dir + "/a/boot.bin";
    r = Run({"verify", image});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(image + ": valid boot image"), std::string::npos) << r.output;
}

// A router image is sent as its part 0 alone, so one of two parts is valid but not usable:
// verify accepts it and says why the upgrade tool will not use it.
TEST_F(KivImageTest, VerifyWarnsAboutARouterImageOfTwoParts)
{
    std::string data = s_strDir + "/boot-part.dat";
    std::ofstream(data, std::ios::binary) << std::string(3000, 'b');
    std::string image = s_strDir + "/two-part-boot.bin";
    RunResult r = Run({"create", image, "--type", "boot", "-V", "1.0.6.9", "--part", data, "--part", data});
    ASSERT_EQ(r.status, 0) << r.output;
    r = Run({"verify", image});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("valid boot image, version 1.0.6.9, 2 parts"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("warning: " + image + ": router images must have exactly one part"), std::string::npos)
        << r.output;

    r = Run({"verify", s_strDir + "/a/boot.bin"});
    EXPECT_EQ(r.output.find("warning"), std::string::npos) << r.output;
    r = Run({"verify", s_strDir + "/a/dashboard_ZQPX.bin"});
    EXPECT_EQ(r.output.find("warning"), std::string::npos) << "wireless images may have several parts";
}

// Files that are no image, each refused with its reason, never a crash: a part whose data
// would run past the 32-bit addresses (its second block would be written to address 0), and
// a 2 GiB file that is almost all hole.
TEST_F(KivImageTest, VerifyRefusesDataPastTheAddressSpaceAndFilesNoImageIsAsLargeAs)
{
    std::string data = s_strDir + "/top-part.dat";
    std::ofstream(data, std::ios::binary) << std::string(8192, 't');
    std::string image = s_strDir + "/top.bin";
    ASSERT_EQ(Run({"create", image, "--type", "firmware", "--part", data + ",address=0xFFFFF000"}).status, 0);
    RunResult r = Run({"verify", image});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("bytes at address 0xFFFFF000 run past the end of the 32-bit address space"),
              std::string::npos)
        << r.output;

    std::string sparse = s_strDir + "/sparse.bin";
    std::filesystem::copy_file(s_strDir + "/a/firmware.bin", sparse);
    std::filesystem::resize_file(sparse, 2ull * 1024 * 1024 * 1024);
    r = Run({"verify", sparse});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("the file is larger than 256 MiB"), std::string::npos) << r.output;
}
