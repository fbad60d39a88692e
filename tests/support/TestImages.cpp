#include "tests/support/TestImages.h"

#include <gtest/gtest.h>

#include "images/CImageBuilder.h"
#include "images/CSampleImage.h"
#include "images/PartHeader.h"

namespace kivtest {

namespace {

std::vector<uint8_t> Build(CImageBuilder& builder)
{
    std::vector<uint8_t> image;
    std::string error;
    if (!builder.Build(image, error)) {
        ADD_FAILURE() << "the image builder refused: " << error;
        image.clear();
    }
    return image;
}

} // namespace

std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 5));
    return bytes;
}

std::vector<uint8_t> WirelessImage(uint32_t fileType, const std::vector<size_t>& lengths, uint32_t blockSize,
                                   const std::string& version)
{
    CImageBuilder builder;
    builder.SetFileType(fileType);
    builder.SetVersion(version);
    for (size_t i = 0; i < lengths.size(); ++i) {
        CImageBuilder::Part part;
        part.m_Magic = PART_MAGIC_WIRELESS;
        part.m_UnlockCode = "UNLOCK0" + std::to_string(i);
        part.m_nTargetAddress = 0x1000u * static_cast<uint32_t>(i + 1);
        part.m_nBlockSize = blockSize;
        part.m_Data = PatternBytes(lengths[i], static_cast<uint8_t>(i + 1));
        builder.AddPart(std::move(part));
    }
    return Build(builder);
}

std::vector<uint8_t> RouterImage(uint32_t kindBits, size_t length)
{
    CImageBuilder builder;
    builder.SetFileType(FILE_TYPE_ROUTER);
    builder.SetVersion("2.1.7.1");
    CImageBuilder::Part part;
    part.m_Magic = PART_MAGIC_HDR0;
    part.m_Data = PatternBytes(length);
    WriteLe32(part.m_Data.data() + ROUTER_KIND_BITS_OFFSET, kindBits);
    builder.AddPart(std::move(part));
    return Build(builder);
}

std::vector<uint8_t> RouterSampleImage(uint32_t type, uint32_t payloadSize)
{
    CImageBuilder builder;
    builder.SetFileType(FILE_TYPE_ROUTER);
    builder.SetVersion("9.9.9.9");
    CImageBuilder::Part part;
    part.m_Magic = PART_MAGIC_HDR0;
    part.m_UnlockCode = "ROUTER01";
    part.m_nTargetAddress = 0x00100000;
    part.m_Data = SampleImage::MakeRouterData(SampleImage::RouterKindBits(type), "9.9.9.9",
                                              PatternBytes(payloadSize));
    builder.AddPart(std::move(part));
    return Build(builder);
}

} // namespace kivtest
