#include <gtest/gtest.h>

#include "images/CAppFileReader.h"
#include "images/PartHeader.h"
#include "tests/support/TestImages.h"

using namespace kivtest;

namespace {

struct Opened {
    explicit Opened(const std::vector<size_t>& lengths) : image(WirelessImage(FILE_TYPE_FIRMWARE, lengths))
    {
        valid = file.OpenMemory(image.data(), image.size(), IMG_NONE, true);
    }
    std::vector<uint8_t> image;
    CBinFile file;
    bool valid = false;
};

// Reads part `part` as the transfers do and returns the chunk lengths, checking that the
// chunks are consecutive from the part's data offset.
std::vector<uint32_t> ReadAll(CAppFileReader& reader, const CBinFile& file, size_t part)
{
    std::vector<uint32_t> lengths;
    EXPECT_TRUE(reader.SelectPart(part));
    const uint8_t* expected = file.GetData() + file.GetSpan(part).m_nOffset;
    for (uint32_t i = 0; i < reader.GetChunkCount(part); ++i) {
        uint32_t length = 0;
        const uint8_t* chunk = reader.NextChunk(length);
        EXPECT_EQ(chunk, expected) << "chunk " << i;
        expected += length;
        lengths.push_back(length);
    }
    return lengths;
}

} // namespace

TEST(CAppFileReader, ChunkCountsAndLengths)
{
    Opened opened({14600, 14601, 40});
    ASSERT_TRUE(opened.valid);
    CAppFileReader router(opened.file, 7300);
    EXPECT_EQ(router.GetChunkCount(0), 2u);
    EXPECT_EQ(router.GetChunkCount(1), 3u);
    EXPECT_EQ(ReadAll(router, opened.file, 0), (std::vector<uint32_t> {7300, 7300}));
    EXPECT_EQ(ReadAll(router, opened.file, 1), (std::vector<uint32_t> {7300, 7300, 1}));

    CAppFileReader wireless(opened.file, 4096);
    EXPECT_EQ(ReadAll(wireless, opened.file, 2), (std::vector<uint32_t> {40}));
    EXPECT_EQ(wireless.GetChunkCount(0), 4u) << "independent of the selection";
}

TEST(CAppFileReader, UsedUpPartAndBadArguments)
{
    Opened opened({100});
    ASSERT_TRUE(opened.valid);
    CAppFileReader reader(opened.file, 64);
    ReadAll(reader, opened.file, 0);
    uint32_t length = 99;
    EXPECT_EQ(reader.NextChunk(length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(reader.GetRemaining(), 0u);
    EXPECT_EQ(reader.NextChunk(length), nullptr);

    // Reselecting rewinds to the start of the part.
    ASSERT_TRUE(reader.SelectPart(0));
    EXPECT_EQ(reader.NextChunk(length), opened.file.GetPartData(0));

    EXPECT_FALSE(reader.SelectPart(1));
    EXPECT_EQ(reader.NextChunk(length), nullptr);
    EXPECT_EQ(reader.GetChunkCount(1), 0u);
    CAppFileReader zero(opened.file, 0);
    EXPECT_EQ(zero.GetChunkCount(0), 0u);
    zero.SelectPart(0);
    EXPECT_EQ(zero.NextChunk(length), nullptr);
}
