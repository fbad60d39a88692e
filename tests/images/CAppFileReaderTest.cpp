#include <gtest/gtest.h>

#include <unistd.h>

#include "images/CAppFileReader.h"
#include "images/PartHeader.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestImages.h"

using namespace kivtest;

namespace {

struct Opened {
    explicit Opened(const std::vector<size_t>& lengths, uint32_t blockSize = 4096)
        : image(WirelessImage(FILE_TYPE_FIRMWARE, lengths, blockSize))
    {
        valid = file.OpenMemory(image.data(), image.size(), IMG_NONE, true);
    }
    std::vector<uint8_t> image;
    CBinFile file;
    bool valid = false;
};

// Reads part `part` as the transfers do and returns the chunk lengths, checking that the
// chunks hold the part's bytes in order from its first one.
std::vector<uint32_t> ReadAll(CAppFileReader& reader, const std::vector<uint8_t>& image, const CBinFile& file,
                              size_t part)
{
    std::vector<uint32_t> lengths;
    EXPECT_TRUE(reader.SelectPart(part));
    size_t offset = file.GetSpan(part).m_nOffset;
    for (uint32_t i = 0; i < reader.GetChunkCount(part); ++i) {
        uint32_t length = 0;
        const uint8_t* chunk = reader.NextChunk(length);
        EXPECT_NE(chunk, nullptr) << "chunk " << i << ": " << reader.GetFailure();
        if (chunk == nullptr)
            break;
        EXPECT_TRUE(std::equal(chunk, chunk + length, image.begin() + static_cast<std::ptrdiff_t>(offset)))
            << "chunk " << i;
        offset += length;
        lengths.push_back(length);
    }
    return lengths;
}

// Offset in the image of byte `offset` of part `part`'s data.
size_t DataOffset(const CBinFile& file, size_t part, size_t offset) { return file.GetSpan(part).m_nOffset + offset; }

} // namespace

TEST(CAppFileReader, ChunkCountsAndLengths)
{
    Opened opened({14600, 14601, 40});
    ASSERT_TRUE(opened.valid);
    CAppFileReader router(opened.file, 7300);
    EXPECT_EQ(router.GetChunkCount(0), 2u);
    EXPECT_EQ(router.GetChunkCount(1), 3u);
    EXPECT_EQ(ReadAll(router, opened.image, opened.file, 0), (std::vector<uint32_t>{7300, 7300}));
    EXPECT_EQ(ReadAll(router, opened.image, opened.file, 1), (std::vector<uint32_t>{7300, 7300, 1}));

    CAppFileReader wireless(opened.file, 4096);
    EXPECT_EQ(ReadAll(wireless, opened.image, opened.file, 2), (std::vector<uint32_t>{40}));
    EXPECT_EQ(wireless.GetChunkCount(0), 4u) << "independent of the selection";

    // Blocks that do not line up with the chunks are checked whole all the same.
    Opened odd({10007}, 1000);
    ASSERT_TRUE(odd.valid);
    CAppFileReader oddReader(odd.file, 4096);
    EXPECT_EQ(ReadAll(oddReader, odd.image, odd.file, 0), (std::vector<uint32_t>{4096, 4096, 1815}));
}

TEST(CAppFileReader, UsedUpPartAndBadArguments)
{
    Opened opened({100});
    ASSERT_TRUE(opened.valid);
    CAppFileReader reader(opened.file, 64);
    ReadAll(reader, opened.image, opened.file, 0);
    uint32_t length = 99;
    EXPECT_EQ(reader.NextChunk(length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(reader.GetRemaining(), 0u);
    EXPECT_EQ(reader.NextChunk(length), nullptr);
    EXPECT_EQ(reader.GetFailure(), "");

    // Reselecting rewinds to the start of the part.
    ASSERT_TRUE(reader.SelectPart(0));
    const uint8_t* first = reader.NextChunk(length);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first[0], opened.image[DataOffset(opened.file, 0, 0)]);

    EXPECT_FALSE(reader.SelectPart(1));
    EXPECT_EQ(reader.NextChunk(length), nullptr);
    EXPECT_EQ(reader.GetChunkCount(1), 0u);
    CAppFileReader zero(opened.file, 0);
    EXPECT_EQ(zero.GetChunkCount(0), 0u);
    zero.SelectPart(0);
    EXPECT_EQ(zero.NextChunk(length), nullptr);
}

// What the transfers send is what was checked when the image was opened: the file was read
// whole then, so a byte changed on disk afterwards, or the file cut short, changes nothing
// that is handed out, and nothing is refused.
TEST(CAppFileReader, AFileChangedAfterItWasOpenedChangesNothingThatIsHandedOut)
{
    TempDir dir("kiv-reader");
    const std::string path = dir / "firmware.bin";
    const auto image = WirelessImage(FILE_TYPE_FIRMWARE, {14600, 5000});
    ASSERT_TRUE(WriteFile(path, image));
    CBinFile file;
    file.SetPath(path);
    ASSERT_TRUE(file.Open(IMG_NONE)) << file.GetFailure();

    auto changed = image;
    changed[DataOffset(file, 0, 8000)] ^= 0x01;
    ASSERT_TRUE(WriteFile(path, changed));
    CAppFileReader reader(file, 7300);
    EXPECT_EQ(ReadAll(reader, image, file, 0), (std::vector<uint32_t>{7300, 7300}));

    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(DataOffset(file, 1, 4500))), 0);
    CAppFileReader blocks(file, 4096);
    EXPECT_EQ(ReadAll(blocks, image, file, 1), (std::vector<uint32_t>{4096, 904}));
    EXPECT_EQ(blocks.GetFailure(), "");
}

TEST(CAppFileReader, RefusesBlocksOfAnEmbeddedImageThatDoNotMatchTheirChecksums)
{
    // Embedded images are opened for structure only; their data are checked when sent.
    auto image = WirelessImage(FILE_TYPE_FIRMWARE, {9000});
    CBinFile probe;
    ASSERT_TRUE(probe.OpenMemory(image.data(), image.size(), IMG_NONE, true));
    image[DataOffset(probe, 0, 4096 * 2 + 5)] ^= 0x40;
    CBinFile file;
    ASSERT_TRUE(file.OpenMemory(image.data(), image.size(), IMG_NONE, false));
    CAppFileReader reader(file, 4096);
    ASSERT_TRUE(reader.SelectPart(0));
    uint32_t length = 0;
    EXPECT_NE(reader.NextChunk(length), nullptr);
    EXPECT_NE(reader.NextChunk(length), nullptr);
    EXPECT_EQ(reader.NextChunk(length), nullptr);
    EXPECT_EQ(reader.GetFailure(), "part 0 block 2: checksum mismatch");
}
