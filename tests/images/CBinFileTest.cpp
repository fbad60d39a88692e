#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "images/CBinFile.h"
#include "images/CImageBuilder.h"
#include "platform/ByteOrder.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestImages.h"
#include "wire/Crc16.h"

using namespace kivtest;

namespace {

// Part 0 starts after the 92-byte file header.
constexpr size_t FILE_HEADER_BYTES = 92;

class CBinFileTest : public ::testing::Test {
protected:
    std::string Store(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::string path = m_Dir / name;
        EXPECT_TRUE(WriteFile(path, bytes)) << path;
        return path;
    }

    bool OpenFile(CBinFile& file, const std::string& name, const std::vector<uint8_t>& bytes,
                  uint32_t expected = IMG_NONE)
    {
        file.SetPath(Store(name, bytes));
        return file.Open(expected);
    }

    TempDir m_Dir{"kiv-images"};
};

// Offset of part `index`'s header inside `image` (walks the parts like the reader).
size_t PartOffset(const std::vector<uint8_t>& image, size_t index)
{
    size_t pos = FILE_HEADER_BYTES;
    for (size_t i = 0; i < index; ++i) {
        PartHeader h = PartHeader::Parse(image.data() + pos);
        size_t bytes = h.m_nHeaderSize + h.m_nDataLength;
        pos += bytes + (4 - bytes % 4) % 4;
    }
    return pos;
}

} // namespace

TEST_F(CBinFileTest, OpensAValidImageWithItsPartsAndSpans)
{
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {5000, 40, 8192});
    CBinFile file;
    ASSERT_TRUE(OpenFile(file, "firmware.bin", image)) << file.GetFailure();
    EXPECT_EQ(file.GetType(), IMG_FIRMWARE);
    EXPECT_EQ(file.GetVersion(), "1.2.3.4");
    ASSERT_EQ(file.GetPartCount(), 3u);
    EXPECT_EQ(file.GetTotalLength(), 5000u + 40u + 8192u);

    // 5000 bytes in 4096-byte blocks: 2 blocks, header size 102, then 2 padding bytes.
    const PartHeader& first = file.GetHeader(0);
    EXPECT_EQ(first.m_nHeaderSize, 102u);
    EXPECT_EQ(file.GetSpan(0).m_nOffset, FILE_HEADER_BYTES + 102u);
    EXPECT_EQ(file.GetSpan(1).m_nOffset, FILE_HEADER_BYTES + 102u + 5000u + 2u + 100u);
    EXPECT_EQ(PartOffset(image, 1), FILE_HEADER_BYTES + 5104u);
    EXPECT_EQ(std::string(first.m_UnlockCode.data(), 8), "UNLOCK00");
    EXPECT_EQ(file.GetHeader(1).m_nTargetAddress, 0x2000u);
    uint8_t first8[8];
    ASSERT_TRUE(file.ReadPartData(2, 0, 8, first8));
    EXPECT_TRUE(std::equal(first8, first8 + 8, PatternBytes(8192, 3).begin()));
    EXPECT_FALSE(file.ReadPartData(2, 8190, 3, first8)) << "beyond the part";
}

TEST_F(CBinFileTest, SizeAndPathRules)
{
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {100});
    CBinFile file;
    EXPECT_FALSE(OpenFile(file, "short.bin", std::vector<uint8_t>(image.begin(), image.begin() + 189)));
    EXPECT_FALSE(OpenFile(file, "empty.bin", {}));
    EXPECT_FALSE(CBinFile::IsUsablePath("/a/b.bi"));
    EXPECT_TRUE(CBinFile::IsUsablePath("/a/b.bin"));
    EXPECT_FALSE(CBinFile::IsUsablePath("\\\\server\\share\\image.bin"));
    file.SetPath("\\\\server\\share\\image.bin");
    EXPECT_FALSE(file.Open(IMG_NONE));
    file.SetPath(m_Dir / "missing.bin");
    EXPECT_FALSE(file.Open(IMG_NONE));
    file.SetPath(m_Dir.Path());
    EXPECT_FALSE(file.Open(IMG_NONE)) << "a directory is not an image";
}

TEST_F(CBinFileTest, CorruptChecksumsRefuseFilesButNotResources)
{
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {5000, 9000, 300});
    CBinFile file;

    auto badHeader = image;
    badHeader[PartOffset(image, 2) + 60] ^= 0x01; // part name, covered by the header checksum
    EXPECT_FALSE(OpenFile(file, "header.bin", badHeader));
    EXPECT_EQ(file.GetFailure(), "part 2: header checksum mismatch");

    auto badBlock = image;
    size_t part1 = PartOffset(image, 1);
    badBlock[part1 + 98 + 2 * 3 + 4096 * 2 + 7] ^= 0x80; // part 1, block 2
    EXPECT_FALSE(OpenFile(file, "block.bin", badBlock));
    EXPECT_EQ(file.GetFailure(), "part 1 block 2: checksum mismatch");

    auto badTable = image;
    badTable[part1 + 98] ^= 0x01; // first table entry
    EXPECT_FALSE(OpenFile(file, "table.bin", badTable));
    EXPECT_EQ(file.GetFailure(), "part 1 block 0: checksum mismatch");

    // The structural path used for embedded images does not verify checksums.
    EXPECT_TRUE(file.OpenMemory(badBlock.data(), badBlock.size(), IMG_NONE, false));
    EXPECT_TRUE(file.OpenMemory(badHeader.data(), badHeader.size(), IMG_NONE, false));
}

TEST_F(CBinFileTest, StructuralRulesRefuseBrokenParts)
{
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {5000});
    CBinFile file;
    auto resign = [](std::vector<uint8_t>& bytes) {
        PartHeader h = PartHeader::Parse(bytes.data() + FILE_HEADER_BYTES);
        h.m_nChecksum = h.ComputeChecksum();
        h.Serialize(bytes.data() + FILE_HEADER_BYTES);
    };

    auto wrongHeaderSize = image;
    WriteLe32(wrongHeaderSize.data() + FILE_HEADER_BYTES + 4, 104);
    resign(wrongHeaderSize);
    EXPECT_FALSE(OpenFile(file, "hsize.bin", wrongHeaderSize));
    EXPECT_EQ(file.GetFailure(), "part 0: header size does not match the block count");

    auto zeroBlock = image;
    WriteLe32(zeroBlock.data() + FILE_HEADER_BYTES + 94, 0);
    resign(zeroBlock);
    EXPECT_FALSE(OpenFile(file, "zero.bin", zeroBlock));

    auto hugeLength = image;
    WriteLe32(hugeLength.data() + FILE_HEADER_BYTES + 24, 0xFFFFFFF0u);
    WriteLe32(hugeLength.data() + FILE_HEADER_BYTES + 94, 0x7FFFFFFFu);
    WriteLe32(hugeLength.data() + FILE_HEADER_BYTES + 4, 98 + 2 * 2);
    resign(hugeLength);
    EXPECT_FALSE(OpenFile(file, "huge.bin", hugeLength));
    EXPECT_EQ(file.GetFailure(), "part 0: data beyond the end of the image");

    // Trailing bytes too short to be a part header.
    auto trailing = image;
    trailing.resize(trailing.size() + 20, 0);
    EXPECT_FALSE(OpenFile(file, "trail.bin", trailing));

    // Data written from their address upward must end within 32-bit addresses (past them
    // the second block would be written to address 0); the last page itself is fine.
    for (uint32_t length : {4096u, 8192u}) {
        auto atTheTop = WirelessImage(FILE_TYPE_FIRMWARE, {length});
        WriteLe32(atTheTop.data() + FILE_HEADER_BYTES + 20, 0xFFFFF000u);
        resign(atTheTop);
        CBinFile top;
        EXPECT_EQ(OpenFile(top, "top.bin", atTheTop), length == 4096) << length;
        if (length == 8192) {
            EXPECT_EQ(top.GetFailure(),
                      "part 0: its 8192 bytes at address 0xFFFFF000 run past the end of the 32-bit address space");
        }
    }
}

// A file of 2 GiB that takes a few kilobytes on disk, whose header claims blocks of one byte
// (a checksum table of 1.4 GB): refused for its size, with a reason, before anything of that
// size is allocated.
TEST_F(CBinFileTest, AHugeSparseFileIsRefusedBeforeAnythingIsAllocated)
{
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {5000});
    const uint32_t blocks = 700u * 1000u * 1000u;
    WriteLe32(image.data() + FILE_HEADER_BYTES + 4, 98 + 2 * blocks);
    WriteLe32(image.data() + FILE_HEADER_BYTES + 24, blocks);
    WriteLe32(image.data() + FILE_HEADER_BYTES + 94, 1);
    PartHeader h = PartHeader::Parse(image.data() + FILE_HEADER_BYTES);
    h.m_nChecksum = h.ComputeChecksum();
    h.Serialize(image.data() + FILE_HEADER_BYTES);
    const std::string path = Store("sparse.bin", image);
    std::filesystem::resize_file(path, 2ull * 1024 * 1024 * 1024);

#ifndef _WIN32
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
#endif
    CBinFile file;
    file.SetPath(path);
    EXPECT_FALSE(file.Open(IMG_NONE));
    EXPECT_EQ(file.GetFailure(), "the file is larger than 256 MiB (2147483648 bytes): no image is that large");
#ifndef _WIN32
    // The peak resident size (POSIX only) shows that nothing of the header's size was allocated.
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "peak kilobytes grew that much";
#endif
}

TEST_F(CBinFileTest, EveryTruncationIsRefusedWithoutReadingOutside)
{
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {600, 33}, 256);
    CBinFile file;
    for (size_t length = 0; length < image.size(); ++length) {
        // An exact-size heap copy lets the address sanitizer catch any read past the end.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);
        std::copy(image.begin(), image.begin() + static_cast<long>(length), copy.get());
        bool opened = file.OpenMemory(copy.get(), length, IMG_NONE, true);
        // A cut at the part boundary leaves a complete one-part image, and one inside the
        // last part's padding a complete two-part image; every other cut is refused.
        EXPECT_EQ(opened, length == PartOffset(image, 1) || length >= image.size() - 3) << "length " << length;
        file.Close();
    }
}

TEST_F(CBinFileTest, DashboardRuleForUnstatedWirelessType)
{
    auto two = WirelessImage(FILE_TYPE_WIRELESS_UNSTATED, {3000, 100});
    auto three = WirelessImage(FILE_TYPE_WIRELESS_UNSTATED, {3000, 100, 10});
    CBinFile file;
    ASSERT_TRUE(OpenFile(file, "dash_ZQPX_1.bin", two, IMG_FIRMWARE));
    EXPECT_EQ(file.GetType(), IMG_DASHBOARD) << "the expected type plays no part";
    CBinFile other;
    ASSERT_TRUE(OpenFile(other, "dashboard.bin", two));
    EXPECT_EQ(other.GetType(), IMG_FIRMWARE);
    CBinFile lower;
    ASSERT_TRUE(OpenFile(lower, "dash_zqpx.bin", two));
    EXPECT_EQ(lower.GetType(), IMG_FIRMWARE);
    CBinFile threeParts;
    ASSERT_TRUE(OpenFile(threeParts, "ZQPX_three.bin", three));
    EXPECT_EQ(threeParts.GetType(), IMG_FIRMWARE);

    CBinFile stated;
    ASSERT_TRUE(OpenFile(stated, "stated3.bin", WirelessImage(FILE_TYPE_DASHBOARD, {100})));
    EXPECT_EQ(stated.GetType(), IMG_DASHBOARD);
    CBinFile unknownWord;
    EXPECT_FALSE(OpenFile(unknownWord, "word5.bin", WirelessImage(5, {100})));
    CBinFile routerWord;
    EXPECT_FALSE(OpenFile(routerWord, "word2.bin", WirelessImage(FILE_TYPE_ROUTER, {100})));
}

TEST_F(CBinFileTest, RouterImagesClassifyByKindBitsAndExpectedType)
{
    struct Case {
        uint32_t kindBits;
        uint32_t expected;
        uint32_t type;
    };
    const Case cases[] = {
        {0x00, IMG_BOOT, IMG_APP},           {0x02, IMG_APP, IMG_BOOT},
        {0x04, IMG_NONE, IMG_CUSTOMIZATION}, {0x06, IMG_BOOT, IMG_NONE},
        {0x06, IMG_CONFIG_FILE, IMG_APP_B},  {0x0E, IMG_NONE, IMG_CONFIG_FILE},
        {0x16, IMG_APP_B, IMG_COMMON_HTML},  {0x1E, IMG_COMMON_HTML, IMG_SPECIAL_HTML},
        {0x02, IMG_APP_B, IMG_NONE},         {0x19, IMG_NONE, IMG_APP}, // bit 0 and bits above 4 are ignored
        {0x00, IMG_FIRMWARE, IMG_NONE},      {0x02, IMG_DASHBOARD, IMG_NONE},
    };
    for (const Case& c : cases) {
        auto image = RouterImage(c.kindBits);
        CBinFile file;
        bool opened = file.OpenMemory(image.data(), image.size(), c.expected, true, "/images/router.bin");
        EXPECT_EQ(opened, c.type != IMG_NONE) << "kind " << c.kindBits << " expected " << c.expected;
        EXPECT_EQ(file.GetType(), c.type) << "kind " << c.kindBits << " expected " << c.expected;
    }
    // A router image too short to carry its kind bits is not recognised.
    CImageBuilder builder;
    CImageBuilder::Part part;
    part.m_Magic = PART_MAGIC_HDR0;
    part.m_Data = PatternBytes(15);
    builder.AddPart(part);
    std::vector<uint8_t> tiny;
    std::string error;
    ASSERT_TRUE(builder.Build(tiny, error));
    CBinFile file;
    EXPECT_FALSE(file.OpenMemory(tiny.data(), tiny.size(), IMG_NONE, true));
    EXPECT_EQ(CBinFile::Classify({'X', 'X', 'X', 'X'}, 1, IMG_NONE, 0, 1, "ZQPX"), IMG_NONE);
}

TEST_F(CBinFileTest, VersionTextAndReopenRules)
{
    CBinFile file;
    EXPECT_EQ(file.GetVersion(), "");
    EXPECT_EQ(file.GetType(), IMG_NONE);
    ASSERT_TRUE(OpenFile(file, "nover.bin", WirelessImage(FILE_TYPE_FIRMWARE, {100}, 4096, "")));
    EXPECT_EQ(file.GetVersion(), "No version");

    // Open of a valid image returns at once, even if the file has gone meanwhile (where it
    // can go: Windows keeps a file that is open for reading only from being removed).
    std::error_code ec;
    std::filesystem::remove(file.GetPath(), ec);
    EXPECT_TRUE(file.Open(IMG_DASHBOARD));
    EXPECT_EQ(file.GetType(), IMG_FIRMWARE);
    file.Close();
    EXPECT_FALSE(file.IsValid());
    EXPECT_EQ(file.GetPartCount(), 0u);
    std::filesystem::remove(file.GetPath(), ec);
    EXPECT_FALSE(file.Open(IMG_NONE));

    // An 84-byte version without a terminator stops at the field's end; bytes that are not
    // UTF-8, and control characters (no terminal escape survives), become U+FFFD.
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {100}, 4096, "");
    std::fill(image.begin() + 8, image.begin() + 92, 'x');
    image[8] = 0xFF;
    image[9] = 0x1B;
    image[10] = 0xC2;
    image[11] = 0x9B;
    CBinFile raw;
    ASSERT_TRUE(raw.OpenMemory(image.data(), image.size(), IMG_NONE, true));
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(raw.GetVersion(), replacement + replacement + replacement + std::string(80, 'x'));
}

TEST_F(CBinFileTest, BlocksLargerThanOneReadAreCheckedWhole)
{
    // Blocks of 100000 bytes are read in pieces; a flipped byte in the second one is found.
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {250000}, 100000);
    CBinFile file;
    ASSERT_TRUE(OpenFile(file, "big-blocks.bin", image)) << file.GetFailure();
    auto bad = image;
    bad[PartOffset(image, 0) + 98 + 2 * 3 + 100000 + 99999] ^= 0x10;
    CBinFile other;
    EXPECT_FALSE(OpenFile(other, "big-blocks-bad.bin", bad));
    EXPECT_EQ(other.GetFailure(), "part 0 block 1: checksum mismatch");
}
