#include "images/PartHeader.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "wire/Crc16.h"

namespace {

template <size_t N>
void CopyIn(std::array<char, N>& field, const uint8_t* p)
{
    std::memcpy(field.data(), p, N);
}

template <size_t N, typename T>
void CopyOut(uint8_t* p, const std::array<T, N>& field)
{
    std::memcpy(p, field.data(), N);
}

} // namespace

PartHeader PartHeader::Parse(const uint8_t* p)
{
    PartHeader h;
    std::copy(p, p + 4, h.m_Magic.begin());
    h.m_nHeaderSize = ReadLe32(p + 4);
    h.m_nReserved = ReadLe32(p + 8);
    CopyIn(h.m_UnlockCode, p + 12);
    h.m_nTargetAddress = ReadLe32(p + 20);
    h.m_nDataLength = ReadLe32(p + 24);
    CopyIn(h.m_BuildDate, p + 28);
    CopyIn(h.m_BuildTime, p + 44);
    CopyIn(h.m_PartName, p + 60);
    h.m_nChecksum = ReadLe16(p + PART_CHECKSUM_OFFSET);
    h.m_nBlockSize = ReadLe32(p + 94);
    return h;
}

void PartHeader::Serialize(uint8_t* p) const
{
    CopyOut(p, m_Magic);
    WriteLe32(p + 4, m_nHeaderSize);
    WriteLe32(p + 8, m_nReserved);
    CopyOut(p + 12, m_UnlockCode);
    WriteLe32(p + 20, m_nTargetAddress);
    WriteLe32(p + 24, m_nDataLength);
    CopyOut(p + 28, m_BuildDate);
    CopyOut(p + 44, m_BuildTime);
    CopyOut(p + 60, m_PartName);
    WriteLe16(p + PART_CHECKSUM_OFFSET, m_nChecksum);
    WriteLe32(p + 94, m_nBlockSize);
}

uint16_t PartHeader::ComputeChecksum() const
{
    uint8_t bytes[PART_HEADER_SIZE];
    Serialize(bytes);
    WriteLe16(bytes + PART_CHECKSUM_OFFSET, 0);
    return Crc16Compute(bytes, sizeof bytes);
}

uint32_t PartHeader::BlockCount() const
{
    if (m_nBlockSize == 0)
        return 0;
    return m_nDataLength / m_nBlockSize + (m_nDataLength % m_nBlockSize != 0 ? 1 : 0);
}
