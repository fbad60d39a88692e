#include "images/CBinFile.h"

#include <cstring>
#include <limits>

#include "images/Crc16.h"
#include "res/Resources.h"

namespace {

constexpr size_t kMaxImageSize = std::numeric_limits<uint32_t>::max();

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

// Length of a UTF-8 sequence starting at p (at most `left` bytes), 0 when not valid.
size_t Utf8SequenceLength(const uint8_t* p, size_t left)
{
    uint8_t c = p[0];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || n > left)
        return 0;
    for (size_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return n;
}

// The version text holds 8-bit characters; bytes that do not form UTF-8 become '?', so the
// text can be shown and written anywhere the program's UTF-8 text goes.
std::string VersionText(const uint8_t* p, size_t size)
{
    size_t length = 0;
    while (length < size && p[length] != 0)
        ++length;
    std::string text;
    for (size_t i = 0; i < length;) {
        size_t n = Utf8SequenceLength(p + i, length - i);
        if (n == 0) {
            text.push_back('?');
            ++i;
        } else {
            text.append(reinterpret_cast<const char*>(p + i), n);
            i += n;
        }
    }
    return text;
}

std::string PartPrefix(size_t index) { return "part " + std::to_string(index) + ": "; }

} // namespace

CBinFile::~CBinFile() { Close(); }

void CBinFile::Close()
{
    m_Headers.clear();
    m_Spans.clear();
    m_nType = IMG_NONE;
    m_Mapping.Close();
    m_pData = nullptr;
    m_nSize = 0;
    m_bValid = false;
}

bool CBinFile::Fail(std::string text)
{
    m_strFailure = std::move(text);
    return false;
}

bool CBinFile::IsUsablePath(const std::string& path)
{
    return path.size() > 7 && path.compare(0, 2, "\\\\") != 0;
}

bool CBinFile::Open(uint32_t expectedType)
{
    if (m_bValid)
        return true;
    Close();
    m_nResourceId = 0;
    m_strFailure.clear();
    if (!IsUsablePath(m_strPath))
        return Fail("path is not usable (7 characters or fewer, or a network path)");
    if (!m_Mapping.Open(m_strPath))
        return Fail("cannot open the file: " + std::string(std::strerror(m_Mapping.LastError())));
    m_pData = m_Mapping.Data();
    m_nSize = m_Mapping.Size();
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
    if (m_pData == nullptr || m_nSize < MIN_IMAGE_SIZE)
        return Fail("image is shorter than 190 bytes");
    if (m_nSize > kMaxImageSize)
        return Fail("image is larger than 4 GiB");
    size_t pos = FILE_HEADER_SIZE;
    for (size_t index = 0; pos < m_nSize; ++index)
        if (!ParsePart(index, pos, verifyChecksums))
            return false;
    return true;
}

bool CBinFile::ParsePart(size_t index, size_t& pos, bool verifyChecksums)
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
    const uint8_t* table = m_pData + pos;
    pos += 2 * blocks;
    if (m_nSize - pos < header.m_nDataLength)
        return Fail(PartPrefix(index) + "data beyond the end of the image");
    m_Spans.push_back(DataSpan {static_cast<uint32_t>(pos), header.m_nDataLength});
    if (verifyChecksums) {
        uint32_t left = header.m_nDataLength;
        for (uint64_t j = 0; j < blocks; ++j) {
            uint32_t length = left < header.m_nBlockSize ? left : header.m_nBlockSize;
            if (Crc16Compute(m_pData + pos, length) != ReadLe16(table + 2 * j))
                return Fail("part " + std::to_string(index) + " block " + std::to_string(j) +
                            ": checksum mismatch");
            pos += length;
            left -= length;
        }
    } else {
        pos += header.m_nDataLength;
    }
    uint64_t r = (header.m_nDataLength + 2 * blocks + PART_HEADER_SIZE) % 4;
    if (r > 0)
        pos += 4 - r;
    m_Headers.push_back(header);
    return true;
}

uint32_t CBinFile::ClassifyOpened(uint32_t expectedType) const
{
    if (m_Headers.empty())
        return IMG_NONE;
    uint32_t kindBits = 0;
    const DataSpan& first = m_Spans.front();
    bool hasKindBits = first.m_nLength >= ROUTER_KIND_BITS_OFFSET + 4;
    if (hasKindBits)
        kindBits = ReadLe32(m_pData + first.m_nOffset + ROUTER_KIND_BITS_OFFSET);
    // A router image too short to hold its kind bits cannot be recognised.
    if (m_Headers.front().m_Magic == PART_MAGIC_HDR0 && !hasKindBits)
        return IMG_NONE;
    return Classify(m_Headers.front().m_Magic, ReadLe32(m_pData), expectedType, kindBits,
        m_Headers.size(), m_strPath);
}

uint32_t CBinFile::ClassifyRouter(uint32_t kindBits, uint32_t expectedType)
{
    const uint32_t a = (kindBits >> 1) & 3;
    const uint32_t b = (kindBits >> 3) & 3;
    static constexpr uint32_t kByA[4] = {IMG_APP, IMG_BOOT, IMG_CUSTOMIZATION, IMG_NONE};
    static constexpr uint32_t kByB[4] = {IMG_APP_B, IMG_CONFIG_FILE, IMG_COMMON_HTML, IMG_SPECIAL_HTML};
    if (expectedType <= IMG_CUSTOMIZATION)
        return kByA[a];
    if (expectedType <= IMG_CONFIG_FILE)
        return a == 3 ? kByB[b] : IMG_NONE;
    if (expectedType == IMG_NONE)
        return a == 3 ? kByB[b] : kByA[a];
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
    case FILE_TYPE_FIRMWARE:
        return IMG_FIRMWARE;
    case FILE_TYPE_DASHBOARD:
        return IMG_DASHBOARD;
    case FILE_TYPE_WIRELESS_UNSTATED:
        return (partCount == 2 && path.find("ZQPX") != std::string::npos) ? IMG_DASHBOARD : IMG_FIRMWARE;
    default:
        return IMG_NONE;
    }
}

uint32_t CBinFile::GetTotalLength() const
{
    uint32_t total = 0;
    for (const DataSpan& span : m_Spans)
        total += span.m_nLength;
    return total;
}

const uint8_t* CBinFile::GetPartData(size_t part) const
{
    if (m_pData == nullptr || part >= m_Spans.size())
        return nullptr;
    return m_pData + m_Spans[part].m_nOffset;
}

uint32_t CBinFile::GetFileType() const
{
    return (m_pData != nullptr && m_nSize >= 4) ? ReadLe32(m_pData) : 0;
}

std::string CBinFile::GetVersion() const
{
    if (!m_bValid || m_pData == nullptr)
        return std::string();
    if (m_pData[FILE_VERSION_OFFSET] == 0)
        return "No version";
    return VersionText(m_pData + FILE_VERSION_OFFSET, FILE_VERSION_SIZE);
}
