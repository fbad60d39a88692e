#include "wire/HdlcFraming.h"

#include <cstring>

#include "wire/CHdlcFrameWriter.h"
#include "wire/Crc16.h"

namespace {

bool NeedsEscape(uint8_t byte) { return byte == HDLC_FLAG || byte == HDLC_ESCAPE; }

// Bytes `count` input bytes take once stuffed.
uint64_t StuffedLength(const uint8_t* bytes, uint32_t count)
{
    uint64_t length = count;
    for (uint32_t i = 0; i < count; ++i)
        length += NeedsEscape(bytes[i]) ? 1 : 0;
    return length;
}

} // namespace

bool HdlcStuffAppend(std::span<uint8_t> out, uint32_t& pos, const uint8_t* bytes, uint32_t count, uint16_t& crc)
{
    if (count == 0)
        return pos <= out.size();
    if (pos > out.size())
        return false;
    // Room for the worst case (every byte stuffed) needs no count; only a tight buffer does.
    const uint64_t room = out.size() - pos;
    if (room < 2 * uint64_t{count} && StuffedLength(bytes, count) > room)
        return false;
    crc = Crc16Bulk(crc, bytes, count);
    // Copy the runs between bytes that need stuffing in one go.
    uint32_t i = 0;
    while (i < count) {
        uint32_t j = i;
        while (j < count && !NeedsEscape(bytes[j]))
            ++j;
        std::memcpy(out.data() + pos, bytes + i, j - i);
        pos += j - i;
        if (j < count) {
            out[pos++] = HDLC_ESCAPE;
            out[pos++] = uint8_t(bytes[j] ^ HDLC_ESCAPE_XOR);
            ++j;
        }
        i = j;
    }
    return true;
}

uint32_t HdlcEncode(const uint8_t* payload, uint32_t length, std::span<uint8_t> out, int leadingFlag)
{
    CHdlcFrameWriter writer(out);
    writer.Begin(leadingFlag != 0);
    writer.Append(payload, length);
    writer.Finish();
    return writer.Length();
}

uint32_t HdlcDecode(const uint8_t* in, uint32_t length, uint8_t* out)
{
    if (in == nullptr || length == 0)
        return 0;
    uint32_t end = length;
    if (in[end - 1] == HDLC_FLAG)
        --end;
    uint32_t index = (end > 0 && in[0] == HDLC_FLAG) ? 1 : 0;

    // Unstuff run by run; the output never gets ahead of the input, so in place is safe.
    uint32_t count = 0;
    while (index < end) {
        const void* found = std::memchr(in + index, HDLC_ESCAPE, end - index);
        const uint32_t runEnd = found != nullptr ? uint32_t(static_cast<const uint8_t*>(found) - in) : end;
        std::memmove(out + count, in + index, runEnd - index);
        count += runEnd - index;
        index = runEnd;
        if (index < end) {
            if (index + 1 >= end)
                return 0; // escape with nothing after it
            out[count++] = uint8_t(in[index + 1] ^ HDLC_ESCAPE_XOR);
            index += 2;
        }
    }
    // The FCS bytes go through the register too: a good frame leaves the residue.
    if (count < 3 || Crc16Bulk(HDLC_CRC_INIT, out, count) != HDLC_CRC_RESIDUE)
        return 0;
    return count - 2;
}
