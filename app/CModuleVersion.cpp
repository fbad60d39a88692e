#include "app/CModuleVersion.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/ByteOrder.h"
#include "platform/TextCodec.h"

namespace {
constexpr size_t HEADER_SIZE = 6;

uint16_t ReadU16(const std::vector<uint8_t>& d, size_t at) { return ReadLe16(d.data() + at); }

uint32_t ReadU32(const std::vector<uint8_t>& d, size_t at) { return ReadLe32(d.data() + at); }

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

// One block of the resource tree, with its extent clamped to its parent.
struct BlockView {
    size_t start = 0;
    size_t end = 0;
    std::u16string key;
    size_t valueOffset = 0;
    size_t valueSize = 0;
    bool isText = false;
    size_t childrenOffset = 0;
};

bool ReadBlock(const std::vector<uint8_t>& d, size_t start, size_t limit, BlockView& block)
{
    if (start + HEADER_SIZE > limit)
        return false;
    const size_t length = ReadU16(d, start);
    const size_t valueLength = ReadU16(d, start + 2);
    const uint16_t type = ReadU16(d, start + 4);
    if (length < HEADER_SIZE + 2 || start + length > limit)
        return false;
    block.start = start;
    block.end = start + length;
    block.key.clear();
    size_t at = start + HEADER_SIZE;
    for (;; at += 2) {
        if (at + 2 > block.end)
            return false;
        const char16_t c = static_cast<char16_t>(ReadU16(d, at));
        if (c == 0)
            break;
        block.key.push_back(c);
    }
    block.isText = type == 1;
    block.valueOffset = Align4(at + 2);
    const size_t wanted = block.isText ? valueLength * 2 : valueLength;
    block.valueSize = block.valueOffset >= block.end ? 0 : std::min(wanted, block.end - block.valueOffset);
    block.childrenOffset = Align4(block.valueOffset + block.valueSize);
    return true;
}

bool KeyEquals(const std::u16string& key, const std::string& name)
{
    if (key.size() != name.size())
        return false;
    for (size_t i = 0; i < key.size(); ++i) {
        const char16_t a = key[i];
        const unsigned char b = static_cast<unsigned char>(name[i]);
        if (a > 0x7F || std::tolower(static_cast<int>(a)) != std::tolower(b))
            return false;
    }
    return true;
}

bool FindChild(const std::vector<uint8_t>& d, const BlockView& parent, const std::string& name, BlockView& child)
{
    for (size_t at = parent.childrenOffset; at + HEADER_SIZE <= parent.end;) {
        if (!ReadBlock(d, at, parent.end, child))
            return false;
        if (KeyEquals(child.key, name))
            return true;
        at = Align4(child.end);
    }
    return false;
}
} // namespace

bool QueryVersionValue(const std::vector<uint8_t>& data, const std::string& path, size_t& valueOffset,
                       size_t& valueSize, bool& isText)
{
    BlockView block;
    if (!ReadBlock(data, 0, data.size(), block))
        return false;
    size_t pos = 0;
    while (pos < path.size()) {
        if (path[pos] == '\\') {
            ++pos;
            continue;
        }
        const size_t next = path.find('\\', pos);
        const std::string name = path.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        BlockView child;
        if (!FindChild(data, block, name, child))
            return false;
        block = child;
        pos = next == std::string::npos ? path.size() : next;
    }
    valueOffset = block.valueOffset;
    valueSize = block.valueSize;
    isText = block.isText;
    return true;
}

CModuleVersion::CModuleVersion() = default;
CModuleVersion::~CModuleVersion() = default;

bool CModuleVersion::LoadVersionData(const uint8_t* data, size_t size)
{
    m_wCodePage = 1252;
    m_wLanguage = 0;
    m_FixedInfo = FixedFileInfo{};
    m_VersionData.clear();
    if (!data || size == 0)
        return false;
    m_VersionData.assign(data, data + size);
    size_t offset = 0;
    size_t length = 0;
    bool isText = false;
    if (!QueryVersionValue(m_VersionData, "\\", offset, length, isText) || length < FIXED_INFO_SIZE)
        return false;
    uint32_t* fields[] = {&m_FixedInfo.dwSignature,        &m_FixedInfo.dwStrucVersion,
                          &m_FixedInfo.dwFileVersionMS,    &m_FixedInfo.dwFileVersionLS,
                          &m_FixedInfo.dwProductVersionMS, &m_FixedInfo.dwProductVersionLS,
                          &m_FixedInfo.dwFileFlagsMask,    &m_FixedInfo.dwFileFlags,
                          &m_FixedInfo.dwFileOS,           &m_FixedInfo.dwFileType,
                          &m_FixedInfo.dwFileSubtype,      &m_FixedInfo.dwFileDateMS,
                          &m_FixedInfo.dwFileDateLS};
    for (size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = ReadU32(m_VersionData, offset + 4 * i);
    if (QueryVersionValue(m_VersionData, "\\VarFileInfo\\Translation", offset, length, isText) && length > 3) {
        m_wLanguage = ReadU16(m_VersionData, offset);
        m_wCodePage = ReadU16(m_VersionData, offset + 2);
    }
    return m_FixedInfo.dwSignature == FIXED_SIGNATURE;
}

std::string CModuleVersion::ValuePath(const std::string& name) const
{
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "\\StringFileInfo\\%04x%04x\\", m_wLanguage, m_wCodePage);
    return prefix + name;
}

std::string CModuleVersion::GetValue(const std::string& name) const
{
    if (m_VersionData.empty())
        return {};
    size_t offset = 0;
    size_t length = 0;
    bool isText = false;
    if (!QueryVersionValue(m_VersionData, ValuePath(name), offset, length, isText))
        return {};
    return Utf16LeToUtf8(m_VersionData.data() + offset, length);
}
