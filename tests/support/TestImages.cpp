#include "tests/support/TestImages.h"

#include <gtest/gtest.h>

#include "images/CImageBuilder.h"
#include "images/CSampleImage.h"
#include "images/PartHeader.h"
#include "platform/ByteOrder.h"
#include "wire/Crc16.h"

namespace kivtest {

namespace {

// The image of `fileType` and `version` holding `parts`; empty (a test failure) when the
// builder refuses.
std::vector<uint8_t> Build(uint32_t fileType, const std::string& version, std::vector<CImageBuilder::Part> parts)
{
    CImageBuilder builder;
    builder.SetFileType(fileType);
    builder.SetVersion(version);
    for (CImageBuilder::Part& part : parts)
        builder.AddPart(std::move(part));
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
    std::vector<CImageBuilder::Part> parts(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i) {
        parts[i].m_Magic = PART_MAGIC_WIRELESS;
        parts[i].m_UnlockCode = "UNLOCK0" + std::to_string(i);
        parts[i].m_nTargetAddress = 0x1000u * static_cast<uint32_t>(i + 1);
        parts[i].m_nBlockSize = blockSize;
        parts[i].m_Data = PatternBytes(lengths[i], static_cast<uint8_t>(i + 1));
    }
    return Build(fileType, version, std::move(parts));
}

std::vector<uint8_t> RouterImage(uint32_t kindBits, size_t length)
{
    CImageBuilder::Part part;
    part.m_Magic = PART_MAGIC_HDR0;
    part.m_Data = PatternBytes(length);
    WriteLe32(part.m_Data.data() + ROUTER_KIND_BITS_OFFSET, kindBits);
    return Build(FILE_TYPE_ROUTER, "2.1.7.1", {std::move(part)});
}

std::vector<uint8_t> RouterSampleImage(uint32_t type, uint32_t payloadSize)
{
    CImageBuilder::Part part;
    part.m_Magic = PART_MAGIC_HDR0;
    part.m_UnlockCode = "ROUTER01";
    part.m_nTargetAddress = 0x00100000;
    part.m_Data = SampleImage::MakeRouterData(RouterKindBits(type), "9.9.9.9", PatternBytes(payloadSize));
    return Build(FILE_TYPE_ROUTER, "9.9.9.9", {std::move(part)});
}

void ChangeKeepingCrc(std::vector<uint8_t>& bytes, size_t blockStart, size_t blockLength, size_t offset, size_t count)
{
    uint8_t* block = bytes.data() + blockStart;
    const uint16_t wanted = Crc16Compute(block, blockLength);
    for (size_t i = 0; i < count; ++i)
        bytes[offset + i] ^= 0x5A;
    // Two bytes move the 16-bit register to any value: the one that gives the old CRC.
    const uint16_t before = Crc16Bulk(CRC16_INIT, block, blockLength - 2);
    for (uint32_t fix = 0; fix <= 0xFFFF; ++fix) {
        const uint16_t reg = Crc16Update(Crc16Update(before, uint8_t(fix)), uint8_t(fix >> 8));
        if (static_cast<uint16_t>(reg ^ 0xFFFF) == wanted) {
            block[blockLength - 2] = uint8_t(fix);
            block[blockLength - 1] = uint8_t(fix >> 8);
            return;
        }
    }
    ADD_FAILURE() << "no two bytes keep the block's CRC";
}

} // namespace kivtest
