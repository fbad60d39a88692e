#include "images/CBinFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"
#include "wire/Crc16.h"
#include "wire/RouterKindBits.h"

namespace {

// The address space a part's data are written into: 32 bits.
constexpr uint64_t ADDRESS_SPACE = uint64_t{1} << 32;

// Type of an embedded image from its resource id; IMG_NONE for any other id.
uint32_t TypeOfResource(uint32_t id)
{
    switch (id) {
    case 148: return IMG_BOOT;
    case 144: return IMG_APP;
    case 147: return IMG_CUSTOMIZATION;
    case 160: return IMG_COMMON_HTML;
    case 161: return IMG_SPECIAL_HTML;
    case 162: return IMG_APP_B;
    case 163: return IMG_CONFIG_FILE;
    case 146: return IMG_FIRMWARE;
    case 145: return IMG_DASHBOARD;
    default: return IMG_NONE;
    }
}

std::string PartPrefix(size_t index) { return "part " + std::to_string(index) + ": "; }

std::string BlockPrefix(size_t part, uint64_t block)
{
    return "part " + std::to_string(part) + " block " + std::to_string(block) + ": ";
}

std::string HexAddress(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(address));
    return text;
}

} // namespace

CBinFile::~CBinFile() { Close(); }

void CBinFile::Close()
{
    m_Headers.clear();
    m_Spans.clear();
    m_nType = IMG_NONE;
    m_pData = nullptr;
    m_Owned.reset();
    m_bVerified = false;
    m_nSize = 0;
    m_VersionField.fill(0);
    m_nFileType = 0;
    m_bValid = false;
}

bool CBinFile::Fail(std::string text)
{
    m_strFailure = std::move(text);
    return false;
}

bool CBinFile::IsUsablePath(const std::string& path) { return path.size() > 7 && path.compare(0, 2, "\\\\") != 0; }

bool CBinFile::Open(uint32_t expectedType)
{
    if (m_bValid)
        return true;
    Close();
    m_nResourceId = 0;
    m_strFailure.clear();
    if (!IsUsablePath(m_strPath))
        return Fail("path is not usable (7 characters or fewer, or a network path)");
    CReadOnlyFile file;
    if (!file.Open(m_strPath))
        return Fail("cannot open the file: " + std::string(std::strerror(file.LastError())));
    if (!ReadWholeFile(file)) {
        const std::string failure = m_strFailure;
        Close();
        return Fail(failure);
    }
    return ParseAndClassify(true, expectedType);
}

bool CBinFile::ReadWholeFile(const CReadOnlyFile& file)
{
    // The size is judged before anything is allocated: a file that claims gigabytes (a
    // sparse one costs nothing on disk) is no image of ours.
    if (file.Size() > MAX_FILE_SIZE)
        return Fail("the file is larger than " + std::to_string(MAX_FILE_SIZE / (1024 * 1024)) + " MiB (" +
                    std::to_string(file.Size()) + " bytes): no image is that large");
    const auto size = static_cast<size_t>(file.Size());
    m_Owned.reset(new (std::nothrow) uint8_t[std::max<size_t>(size, 1)]);
    if (!m_Owned)
        return Fail("not enough memory to read the file (" + std::to_string(size) + " bytes)");
    if (int error = file.ReadAt(0, m_Owned.get(), size))
        return Fail("reading the file failed: " + CReadOnlyFile::ErrorText(error));
    m_pData = m_Owned.get();
    m_nSize = size;
    return true;
}

bool CBinFile::OpenMemory(const uint8_t* data, size_t size, uint32_t expectedType, bool verifyChecksums,
                          const std::string& path)
{
    Close();
    m_nResourceId = 0;
    m_strPath = path;
    m_strFailure.clear();
    m_pData = data;
    m_nSize = data != nullptr ? size : 0;
    return ParseAndClassify(verifyChecksums, expectedType);
}

bool CBinFile::ParseAndClassify(bool verifyChecksums, uint32_t expectedType)
{
    bool ok = ParseAll(verifyChecksums);
    if (ok) {
        m_nType = ClassifyOpened(expectedType);
        ok = m_nType != IMG_NONE || Fail("image type not recognised");
    }
    if (!ok) {
        Close();
        return false;
    }
    m_bValid = true;
    return true;
}

bool CBinFile::OpenResource(uint32_t id)
{
    Close();
    m_nResourceId = id;
    m_strPath.clear();
    m_strFailure.clear();
    std::optional<ResourceBytes> bytes = LoadResourceBytes(id, "BINARY");
    if (!bytes)
        return Fail("no such resource");
    m_pData = bytes->data;
    m_nSize = bytes->size;
    uint32_t type = TypeOfResource(id);
    if (!ParseAll(false) || (type == IMG_NONE && Fail("resource id of no component"))) {
        Close();
        return false;
    }
    m_nType = type;
    m_bValid = true;
    return true;
}

bool CBinFile::ParseAll(bool verifyChecksums)
{
    if (m_pData == nullptr || m_nSize < MIN_IMAGE_SIZE)
        return Fail("image is shorter than 190 bytes");
    if (m_nSize > std::numeric_limits<uint32_t>::max())
        return Fail("image is larger than 4 GiB");
    m_nFileType = ReadLe32(m_pData);
    std::memcpy(m_VersionField.data(), m_pData + FILE_VERSION_OFFSET, FILE_VERSION_SIZE);
    uint64_t pos = FILE_HEADER_SIZE;
    for (size_t index = 0; pos < m_nSize; ++index)
        if (!ParsePart(index, pos, verifyChecksums))
            return false;
    m_bVerified = verifyChecksums;
    return true;
}

bool CBinFile::ParsePart(size_t index, uint64_t& pos, bool verifyChecksums)
{
    if (m_nSize - pos < PART_HEADER_SIZE)
        return Fail(PartPrefix(index) + "header beyond the end of the image");
    PartHeader header = PartHeader::Parse(m_pData + pos);
    pos += PART_HEADER_SIZE;
    if (header.m_nBlockSize == 0)
        return Fail(PartPrefix(index) + "block size is zero");
    if (verifyChecksums && header.m_nChecksum != header.ComputeChecksum())
        return Fail(PartPrefix(index) + "header checksum mismatch");
    if (verifyChecksums && header.m_nDataLength == 0)
        return Fail(PartPrefix(index) + "data length is zero");
    const uint64_t blocks = header.BlockCount();
    if (header.m_nHeaderSize != PART_HEADER_SIZE + 2 * blocks)
        return Fail(PartPrefix(index) + "header size does not match the block count");
    if (m_nSize - pos < 2 * blocks)
        return Fail(PartPrefix(index) + "checksum table beyond the end of the image");
    pos += 2 * blocks; // the table stays in the image bytes and is read from there
    if (m_nSize - pos < header.m_nDataLength)
        return Fail(PartPrefix(index) + "data beyond the end of the image");
    // Written from its address upward, the data must end within the module's 32-bit
    // addresses: past them the next block would land at address 0.
    if (uint64_t(header.m_nTargetAddress) + header.m_nDataLength > ADDRESS_SPACE)
        return Fail(PartPrefix(index) + "its " + std::to_string(header.m_nDataLength) + " bytes at address " +
                    HexAddress(header.m_nTargetAddress) + " run past the end of the 32-bit address space");
    m_Spans.push_back(DataSpan{static_cast<uint32_t>(pos), header.m_nDataLength});
    m_Headers.push_back(header);
    if (verifyChecksums && !VerifyBlocks(index, pos, header))
        return false;
    pos += header.m_nDataLength;
    uint64_t r = (header.m_nDataLength + 2 * blocks + PART_HEADER_SIZE) % 4;
    if (r > 0)
        pos += 4 - r;
    return true;
}

uint16_t CBinFile::TableEntry(size_t part, uint64_t block) const
{
    const uint64_t table = m_Spans[part].m_nOffset - 2 * uint64_t(m_Headers[part].BlockCount());
    return ReadLe16(m_pData + table + 2 * block);
}

bool CBinFile::VerifyBlocks(size_t index, uint64_t pos, const PartHeader& header)
{
    const uint64_t blockSize = header.m_nBlockSize;
    const uint64_t blocks = header.BlockCount();
    for (uint64_t j = 0; j < blocks; ++j) {
        const uint64_t start = j * blockSize;
        const auto length = static_cast<size_t>(std::min<uint64_t>(blockSize, header.m_nDataLength - start));
        const uint16_t crc = Crc16Bulk(CRC16_INIT, m_pData + pos + start, length);
        if (static_cast<uint16_t>(crc ^ 0xFFFF) != TableEntry(index, j))
            return Fail(BlockPrefix(index, j) + "checksum mismatch");
    }
    return true;
}

uint32_t CBinFile::ClassifyOpened(uint32_t expectedType) const
{
    if (m_Headers.empty())
        return IMG_NONE;
    uint8_t word[4] = {};
    const bool hasKindBits = ReadPartData(0, ROUTER_KIND_BITS_OFFSET, sizeof word, word);
    // A router image too short to hold its kind bits cannot be recognised.
    if (m_Headers.front().m_Magic == PART_MAGIC_HDR0 && !hasKindBits)
        return IMG_NONE;
    return Classify(m_Headers.front().m_Magic, m_nFileType, expectedType, ReadLe32(word), m_Headers.size(), m_strPath);
}

uint32_t CBinFile::ClassifyRouter(uint32_t kindBits, uint32_t expectedType)
{
    if (expectedType <= IMG_CUSTOMIZATION)
        return RouterFamilyAType(kindBits);
    if (expectedType <= IMG_CONFIG_FILE)
        return RouterFamilyBType(kindBits);
    if (expectedType == IMG_NONE)
        return RouterImageType(kindBits);
    return IMG_NONE;
}

uint32_t CBinFile::Classify(const std::array<uint8_t, 4>& magic, uint32_t fileType, uint32_t expectedType,
                            uint32_t kindBits, size_t partCount, const std::string& path)
{
    if (magic == PART_MAGIC_HDR0)
        return ClassifyRouter(kindBits, expectedType);
    if (magic != PART_MAGIC_WIRELESS)
        return IMG_NONE;
    switch (fileType) {
    case FILE_TYPE_FIRMWARE: return IMG_FIRMWARE;
    case FILE_TYPE_DASHBOARD: return IMG_DASHBOARD;
    case FILE_TYPE_WIRELESS_UNSTATED:
        return (partCount == 2 && path.find("ZQPX") != std::string::npos) ? IMG_DASHBOARD : IMG_FIRMWARE;
    default: return IMG_NONE;
    }
}

uint32_t CBinFile::GetTotalLength() const
{
    uint32_t total = 0;
    for (const DataSpan& span : m_Spans)
        total += span.m_nLength;
    return total;
}

const uint8_t* CBinFile::PartData(size_t part, uint32_t offset, uint32_t length) const
{
    if (m_pData == nullptr || part >= m_Spans.size() || offset > m_Spans[part].m_nLength ||
        m_Spans[part].m_nLength - offset < length)
        return nullptr;
    return m_pData + m_Spans[part].m_nOffset + offset;
}

bool CBinFile::ReadPartData(size_t part, uint32_t offset, uint32_t length, uint8_t* out) const
{
    const uint8_t* data = PartData(part, offset, length);
    if (data == nullptr)
        return false;
    if (length != 0)
        std::memcpy(out, data, length);
    return true;
}

bool CBinFile::ReadVerified(size_t part, uint32_t offset, uint32_t length, uint8_t* out, std::string& failure) const
{
    if (PartData(part, offset, length) == nullptr) {
        failure = PartPrefix(part) + "range outside the part";
        return false;
    }
    const uint64_t blockSize = m_Headers[part].m_nBlockSize;
    const uint64_t partLength = m_Spans[part].m_nLength;
    const uint64_t end = uint64_t(offset) + length;
    for (uint64_t j = offset / blockSize; j * blockSize < end; ++j) {
        const uint64_t blockStart = j * blockSize;
        const uint64_t blockLength = std::min(blockSize, partLength - blockStart);
        const uint8_t* block = PartData(part, static_cast<uint32_t>(blockStart), static_cast<uint32_t>(blockLength));
        const uint16_t crc = Crc16Bulk(CRC16_INIT, block, static_cast<size_t>(blockLength));
        if (static_cast<uint16_t>(crc ^ 0xFFFF) != TableEntry(part, j)) {
            failure = BlockPrefix(part, j) + "checksum mismatch";
            return false;
        }
    }
    return ReadPartData(part, offset, length, out);
}

std::string CBinFile::GetUnusableReason() const
{
    if (m_bValid && m_nType <= IMG_CONFIG_FILE && m_Headers.size() != 1)
        return "router images must have exactly one part";
    return std::string();
}

std::string CBinFile::GetVersion() const
{
    if (!m_bValid)
        return std::string();
    if (m_VersionField[0] == 0)
        return "No version";
    const auto* end = std::find(m_VersionField.begin(), m_VersionField.end(), uint8_t{0});
    return MakePrintable(m_VersionField.data(), static_cast<size_t>(end - m_VersionField.begin()));
}
