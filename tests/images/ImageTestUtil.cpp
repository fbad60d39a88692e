#include "tests/images/ImageTestUtil.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <stdlib.h>

#include "images/PartHeader.h"
#include "platform/UserFiles.h"

ScratchDir::ScratchDir()
{
    std::string pattern = GetTempDirectory() + "kiv-images-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_strPath = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_strPath, ec);
}

std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
    return bytes;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
    std::vector<uint8_t> image;
    std::string error;
    if (!builder.Build(image, error))
        throw std::runtime_error(error);
    return image;
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
    std::vector<uint8_t> image;
    std::string error;
    if (!builder.Build(image, error))
        throw std::runtime_error(error);
    return image;
}
