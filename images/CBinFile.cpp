#include "images/CBinFile.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "images/Crc16.h"
#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"

namespace {

constexpr size_t MAX_IMAGE_SIZE = std::numeric_limits<uint32_t>::max();
// Bytes read at a time when a file's blocks are checked.
constexpr size_t OPEN_SCRATCH_SIZE = 64 * 1024;
constexpr size_t SEND_SCRATCH_SIZE = 4096;

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

} // namespace

CBinFile::~CBinFile() { Close(); }

void CBinFile::Close()
{
    m_Headers.clear();
    m_Spans.clear();
    m_Tables.clear();
    m_nType = IMG_NONE;
    m_File.Close();
    m_pData = nullptr;
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
    if (!m_File.Open(m_strPath))
        return Fail("cannot open the file: " + std::string(std::strerror(m_File.LastError())));
    if (m_File.Size() > MAX_IMAGE_SIZE) {
        Close();
        return Fail("image is larger than 4 GiB");
    }
    m_nSize = static_cast<size_t>(m_File.Size());
    return ParseAndClassify(true, expectedType);
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
    if ((m_pData == nullptr && !m_File.IsOpen()) || m_nSize < MIN_IMAGE_SIZE)
        return Fail("image is shorter than 190 bytes");
    if (m_nSize > MAX_IMAGE_SIZE)
        return Fail("image is larger than 4 GiB");
    uint8_t fileHeader[FILE_HEADER_SIZE];
    if (int error = ReadImage(0, fileHeader, sizeof fileHeader))
        return Fail("file header: read failed: " + CReadOnlyFile::ErrorText(error));
    m_nFileType = ReadLe32(fileHeader);
    std::memcpy(m_VersionField.data(), fileHeader + FILE_VERSION_OFFSET, FILE_VERSION_SIZE);
    uint64_t pos = FILE_HEADER_SIZE;
    for (size_t index = 0; pos < m_nSize; ++index)
        if (!ParsePart(index, pos, verifyChecksums))
            return false;
    return true;
}

bool CBinFile::ParsePart(size_t index, uint64_t& pos, bool verifyChecksums)
{
    if (m_nSize - pos < PART_HEADER_SIZE)
        return Fail(PartPrefix(index) + "header beyond the end of the image");
    uint8_t raw[PART_HEADER_SIZE];
    if (int error = ReadImage(pos, raw, sizeof raw))
        return Fail(PartPrefix(index) + "read failed: " + CReadOnlyFile::ErrorText(error));
    PartHeader header = PartHeader::Parse(raw);
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
    std::vector<uint8_t> tableBytes(2 * blocks);
    if (int error = ReadImage(pos, tableBytes.data(), tableBytes.size()))
        return Fail(PartPrefix(index) + "read failed: " + CReadOnlyFile::ErrorText(error));
    std::vector<uint16_t> table(blocks);
    for (uint64_t j = 0; j < blocks; ++j)
        table[j] = ReadLe16(tableBytes.data() + 2 * j);
    pos += 2 * blocks;
    if (m_nSize - pos < header.m_nDataLength)
        return Fail(PartPrefix(index) + "data beyond the end of the image");
    if (verifyChecksums && !VerifyBlocks(index, pos, header, table))
        return false;
    m_Spans.push_back(DataSpan{static_cast<uint32_t>(pos), header.m_nDataLength});
    pos += header.m_nDataLength;
    uint64_t r = (header.m_nDataLength + 2 * blocks + PART_HEADER_SIZE) % 4;
    if (r > 0)
        pos += 4 - r;
    m_Headers.push_back(header);
    m_Tables.push_back(std::move(table));
    return true;
}

bool CBinFile::VerifyBlocks(size_t index, uint64_t pos, const PartHeader& header, const std::vector<uint16_t>& table)
{
    const uint64_t blockSize = header.m_nBlockSize;
    const uint64_t dataEnd = pos + header.m_nDataLength;
    // A file is read a batch of whole blocks at a time (a block larger than the scratch
    // buffer is streamed through it); a memory image is checked in place.
    std::vector<uint8_t> scratch(m_pData == nullptr ? OPEN_SCRATCH_SIZE : 0);
    const uint64_t batchBlocks = std::max<uint64_t>(1, scratch.size() / blockSize);
    for (uint64_t j = 0; j < table.size(); j += batchBlocks) {
        const uint64_t batchStart = pos + j * blockSize;
        const uint64_t batchLength = std::min(batchBlocks * blockSize, dataEnd - batchStart);
        // A batch that cannot be read whole is read block by block, to name the block.
        const bool buffered = m_pData == nullptr && batchLength <= scratch.size() &&
                              ReadImage(batchStart, scratch.data(), static_cast<size_t>(batchLength)) == 0;
        for (uint64_t k = 0; k < batchBlocks && j + k < table.size(); ++k) {
            const uint64_t offset = k * blockSize;
            const uint64_t length = std::min(blockSize, batchLength - offset);
            uint16_t crc = CRC16_INIT;
            int error = 0;
            if (buffered)
                crc = Crc16Bulk(crc, scratch.data() + offset, static_cast<size_t>(length));
            else
                error = CrcOfRange(batchStart + offset, length, crc, scratch.data(), scratch.size());
            if (error != 0)
                return Fail(BlockPrefix(index, j + k) + "read failed: " + CReadOnlyFile::ErrorText(error));
            if (static_cast<uint16_t>(crc ^ 0xFFFF) != table[j + k])
                return Fail(BlockPrefix(index, j + k) + "checksum mismatch");
        }
    }
    return true;
}

int CBinFile::ReadImage(uint64_t pos, void* out, size_t length) const
{
    if (m_pData == nullptr)
        return m_File.ReadAt(pos, out, length);
    if (pos > m_nSize || m_nSize - pos < length)
        return CReadOnlyFile::ERROR_SHORT_FILE;
    std::memcpy(out, m_pData + pos, length);
    return 0;
}

int CBinFile::CrcOfRange(uint64_t pos, uint64_t length, uint16_t& crc, uint8_t* scratch, size_t scratchSize) const
{
    if (m_pData != nullptr) {
        if (pos > m_nSize || m_nSize - pos < length)
            return CReadOnlyFile::ERROR_SHORT_FILE;
        crc = Crc16Bulk(crc, m_pData + pos, static_cast<size_t>(length));
        return 0;
    }
    while (length > 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, scratchSize));
        if (int error = m_File.ReadAt(pos, scratch, piece))
            return error;
        crc = Crc16Bulk(crc, scratch, piece);
        pos += piece;
        length -= piece;
    }
    return 0;
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
    const uint32_t a = (kindBits >> 1) & 3;
    const uint32_t b = (kindBits >> 3) & 3;
    static constexpr uint32_t BY_A[4] = {IMG_APP, IMG_BOOT, IMG_CUSTOMIZATION, IMG_NONE};
    static constexpr uint32_t BY_B[4] = {IMG_APP_B, IMG_CONFIG_FILE, IMG_COMMON_HTML, IMG_SPECIAL_HTML};
    if (expectedType <= IMG_CUSTOMIZATION)
        return BY_A[a];
    if (expectedType <= IMG_CONFIG_FILE)
        return a == 3 ? BY_B[b] : IMG_NONE;
    if (expectedType == IMG_NONE)
        return a == 3 ? BY_B[b] : BY_A[a];
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

bool CBinFile::ReadPartData(size_t part, uint32_t offset, uint32_t length, uint8_t* out) const
{
    if (part >= m_Spans.size() || offset > m_Spans[part].m_nLength || m_Spans[part].m_nLength - offset < length)
        return false;
    return ReadImage(uint64_t(m_Spans[part].m_nOffset) + offset, out, length) == 0;
}

bool CBinFile::ReadVerified(size_t part, uint32_t offset, uint32_t length, uint8_t* out, std::string& failure) const
{
    if (part >= m_Spans.size() || offset > m_Spans[part].m_nLength || m_Spans[part].m_nLength - offset < length) {
        failure = PartPrefix(part) + "range outside the part";
        return false;
    }
    if (length == 0)
        return true;
    const uint64_t base = m_Spans[part].m_nOffset;
    const uint64_t partLength = m_Spans[part].m_nLength;
    const uint64_t blockSize = m_Headers[part].m_nBlockSize;
    const uint64_t end = uint64_t(offset) + length;
    uint8_t scratch[SEND_SCRATCH_SIZE];
    for (uint64_t j = offset / blockSize; j * blockSize < end; ++j) {
        const uint64_t blockStart = j * blockSize;
        const uint64_t blockEnd = std::min(blockStart + blockSize, partLength);
        const uint64_t from = std::max<uint64_t>(blockStart, offset);
        const uint64_t to = std::min(blockEnd, end);
        uint8_t* wanted = out + (from - offset);
        // The bytes handed out are read once, into `out`, and the checksum runs over them
        // there; the rest of the block is only read to complete the checksum.
        uint16_t crc = CRC16_INIT;
        int error = CrcOfRange(base + blockStart, from - blockStart, crc, scratch, sizeof scratch);
        if (error == 0)
            error = ReadImage(base + from, wanted, static_cast<size_t>(to - from));
        if (error == 0) {
            crc = Crc16Bulk(crc, wanted, static_cast<size_t>(to - from));
            error = CrcOfRange(base + to, blockEnd - to, crc, scratch, sizeof scratch);
        }
        if (error != 0) {
            failure = BlockPrefix(part, j) + "read failed: " + CReadOnlyFile::ErrorText(error);
            return false;
        }
        if (static_cast<uint16_t>(crc ^ 0xFFFF) != m_Tables[part][j]) {
            failure = BlockPrefix(part, j) + "checksum mismatch";
            return false;
        }
    }
    return true;
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
