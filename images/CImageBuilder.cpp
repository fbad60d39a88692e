#include "images/CImageBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/ByteOrder.h"
#include "platform/CUniqueFd.h"
#include "platform/OutputFile.h"
#include "platform/UserFiles.h"
#include "wire/Crc16.h"

namespace {

template <size_t N>
void CopyText(std::array<char, N>& field, const std::string& text)
{
    field.fill(0);
    std::memcpy(field.data(), text.data(), std::min(N, text.size()));
}

size_t PaddingAfter(size_t partBytes) { return (4 - partBytes % 4) % 4; }

} // namespace

bool CImageBuilder::Build(std::vector<uint8_t>& image, std::string& error) const
{
    if (m_Parts.empty()) {
        error = "an image needs at least one part";
        return false;
    }
    uint64_t total = FILE_HEADER_SIZE;
    for (size_t i = 0; i < m_Parts.size(); ++i) {
        const Part& part = m_Parts[i];
        if (part.m_Data.empty() || part.m_nBlockSize == 0) {
            error = "part " + std::to_string(i) + ": empty data or zero block size";
            return false;
        }
        if (part.m_Data.size() > std::numeric_limits<uint32_t>::max()) {
            error = "part " + std::to_string(i) + ": data longer than 4 GiB";
            return false;
        }
        uint64_t blocks = (part.m_Data.size() + part.m_nBlockSize - 1) / part.m_nBlockSize;
        uint64_t bytes = PART_HEADER_SIZE + 2 * blocks + part.m_Data.size();
        total += bytes + PaddingAfter(bytes);
    }
    if (total > std::numeric_limits<uint32_t>::max()) {
        error = "image larger than 4 GiB";
        return false;
    }

    image.assign(total, 0);
    WriteLe32(image.data(), m_nFileType);
    std::memcpy(image.data() + FILE_VERSION_OFFSET, m_strVersion.data(),
                std::min(m_strVersion.size(), FILE_VERSION_SIZE - 1));

    size_t pos = FILE_HEADER_SIZE;
    for (const Part& part : m_Parts) {
        PartHeader header;
        header.m_Magic = part.m_Magic;
        header.m_nReserved = part.m_nReserved;
        CopyText(header.m_UnlockCode, part.m_UnlockCode);
        header.m_nTargetAddress = part.m_nTargetAddress;
        header.m_nDataLength = static_cast<uint32_t>(part.m_Data.size());
        CopyText(header.m_BuildDate, part.m_BuildDate);
        CopyText(header.m_BuildTime, part.m_BuildTime);
        CopyText(header.m_PartName, part.m_PartName);
        header.m_nBlockSize = part.m_nBlockSize;
        const uint32_t blocks = header.BlockCount();
        header.m_nHeaderSize = static_cast<uint32_t>(PART_HEADER_SIZE + 2 * blocks);
        header.m_nChecksum = header.ComputeChecksum();
        header.Serialize(image.data() + pos);
        pos += PART_HEADER_SIZE;

        const uint8_t* data = part.m_Data.data();
        size_t left = part.m_Data.size();
        for (uint32_t j = 0; j < blocks; ++j) {
            size_t length = std::min<size_t>(left, part.m_nBlockSize);
            WriteLe16(image.data() + pos + 2 * j, Crc16Compute(data, length));
            data += length;
            left -= length;
        }
        pos += 2 * static_cast<size_t>(blocks);
        std::memcpy(image.data() + pos, part.m_Data.data(), part.m_Data.size());
        pos += part.m_Data.size();
        pos += PaddingAfter(header.m_nHeaderSize + part.m_Data.size());
    }
    return true;
}

bool CImageBuilder::WriteFile(const std::string& path, std::string& error) const
{
    std::vector<uint8_t> image;
    return Build(image, error) && WriteBytes(path, image, error);
}

bool CImageBuilder::WriteBytes(const std::string& path, const std::vector<uint8_t>& image, std::string& error)
{
    CUniqueFd fd = CreateOutputFile(path);
    if (!fd.Valid()) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (WriteAll(fd.Get(), image.data(), image.size()) != image.size()) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
