#include "app/WindowPlacementRecord.h"

#include "platform/ByteOrder.h"

std::array<uint8_t, WindowPlacementRecord::RECORD_SIZE> WindowPlacementRecord::Encode() const
{
    std::array<uint8_t, RECORD_SIZE> bytes{};
    const uint32_t fields[] = {length,
                               flags,
                               showCmd,
                               static_cast<uint32_t>(minX),
                               static_cast<uint32_t>(minY),
                               static_cast<uint32_t>(maxX),
                               static_cast<uint32_t>(maxY),
                               static_cast<uint32_t>(left),
                               static_cast<uint32_t>(top),
                               static_cast<uint32_t>(right),
                               static_cast<uint32_t>(bottom)};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
        WriteLe32(bytes.data() + 4 * i, fields[i]);
    return bytes;
}

bool WindowPlacementRecord::Decode(const uint8_t* bytes, size_t size, WindowPlacementRecord& record)
{
    if (bytes == nullptr || size != RECORD_SIZE)
        return false;
    auto field = [bytes](size_t index) { return ReadLe32(bytes + 4 * index); };
    auto signedField = [&field](size_t index) { return static_cast<int32_t>(field(index)); };
    record.length = field(0);
    record.flags = field(1);
    record.showCmd = field(2);
    record.minX = signedField(3);
    record.minY = signedField(4);
    record.maxX = signedField(5);
    record.maxY = signedField(6);
    record.left = signedField(7);
    record.top = signedField(8);
    record.right = signedField(9);
    record.bottom = signedField(10);
    return true;
}

uint32_t WindowPlacementRecord::StoredShowCommand(uint32_t showCmd)
{
    return showCmd == SHOW_MAXIMIZED ? SHOW_MAXIMIZED : SHOW_NORMAL;
}

bool WindowPlacementRecord::NormalRectFits(int32_t areaLeft, int32_t areaTop, int32_t areaRight,
                                           int32_t areaBottom) const
{
    // In 64 bits: a stored rectangle may hold any values.
    const int64_t width = static_cast<int64_t>(right) - left;
    const int64_t height = static_cast<int64_t>(bottom) - top;
    return width > 0 && height > 0 && left >= areaLeft && top >= areaTop && right <= areaRight && bottom <= areaBottom;
}
