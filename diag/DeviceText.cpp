#include "diag/DeviceText.h"

namespace {

// Length of the valid UTF-8 sequence starting at bytes[0], or 0 when it is not one.
size_t ValidSequenceLength(const uint8_t* bytes, size_t left)
{
    const uint8_t lead = bytes[0];
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    uint32_t minimum = 0;
    uint32_t value = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (length > left)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (bytes[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string DeviceBytesToText(const uint8_t* bytes, size_t count)
{
    std::string text;
    text.reserve(count);
    size_t i = 0;
    while (i < count) {
        const size_t length = ValidSequenceLength(bytes + i, count - i);
        if (length == 0) {
            text += "\xEF\xBF\xBD";
            ++i;
        } else {
            text.append(reinterpret_cast<const char*>(bytes + i), length);
            i += length;
        }
    }
    return text;
}
