#include "platform/TextCodec.h"

#include "platform/ByteOrder.h"

namespace {

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

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

// The code point of a valid sequence of `length` bytes.
uint32_t SequenceCodePoint(const uint8_t* bytes, size_t length)
{
    static constexpr uint8_t LEAD_BITS[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t value = bytes[0] & LEAD_BITS[length];
    for (size_t i = 1; i < length; ++i)
        value = (value << 6) | (bytes[i] & 0x3Fu);
    return value;
}

constexpr char REPLACEMENT[] = "\xEF\xBF\xBD";

// Code points that change how the text around them is shown rather than showing
// themselves: the bidirectional marks, embeddings, overrides and isolates (which can put a
// table's columns in another order) and the line and paragraph separators.
bool IsLayoutControl(uint32_t cp)
{
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// C0 controls, DEL, the C1 controls U+0080 to U+009F and the layout controls.
bool IsControlSequence(const uint8_t* bytes, size_t length)
{
    if (length == 1)
        return bytes[0] < 0x20 || bytes[0] == 0x7F;
    if (length == 2 && bytes[0] == 0xC2 && bytes[1] < 0xA0)
        return true;
    return length > 1 && IsLayoutControl(SequenceCodePoint(bytes, length));
}

} // namespace

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t length = ValidSequenceLength(bytes + i, text.size() - i);
        if (length == 0) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        const uint32_t cp = SequenceCodePoint(bytes + i, length);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

std::string Utf16LeToUtf8(const uint8_t* data, size_t size)
{
    std::string out;
    if (data == nullptr)
        return out;
    const size_t units = size / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = ReadLe16(data + 2 * i);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t lo = ReadLe16(data + 2 * i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}

std::string TruncateUtf8(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    // Step back over continuation bytes so the cut lands on a sequence boundary.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

std::string MakePrintable(const uint8_t* bytes, size_t count, bool keepLineFeeds)
{
    std::string text;
    text.reserve(count);
    size_t i = 0;
    while (i < count) {
        const size_t length = ValidSequenceLength(bytes + i, count - i);
        const bool lineFeed = keepLineFeeds && bytes[i] == '\n';
        if (length == 0 || (IsControlSequence(bytes + i, length) && !lineFeed)) {
            text += REPLACEMENT;
            i += length == 0 ? 1 : length;
        } else {
            text.append(reinterpret_cast<const char*>(bytes + i), length);
            i += length;
        }
    }
    return text;
}

std::string MakePrintable(const std::string& text, bool keepLineFeeds)
{
    return MakePrintable(reinterpret_cast<const uint8_t*>(text.data()), text.size(), keepLineFeeds);
}
