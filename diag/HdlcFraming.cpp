#include "diag/HdlcFraming.h"

#include <cstring>

#include "images/Crc16.h"

namespace {

inline void PutStuffed(uint8_t* out, uint32_t& pos, uint8_t byte)
{
    if (byte == HDLC_FLAG || byte == HDLC_ESCAPE) {
        out[pos++] = HDLC_ESCAPE;
        out[pos++] = uint8_t(byte ^ HDLC_ESCAPE_XOR);
    } else {
        out[pos++] = byte;
    }
}

} // namespace

void HdlcStuffAppend(uint8_t* out, uint32_t& pos, const uint8_t* bytes, uint32_t count, uint16_t& crc)
{
    if (count == 0)
        return;
    crc = Crc16Bulk(crc, bytes, count);
    // Copy the runs between bytes that need stuffing in one go.
    uint32_t i = 0;
    while (i < count) {
        uint32_t j = i;
        while (j < count && bytes[j] != HDLC_FLAG && bytes[j] != HDLC_ESCAPE)
            ++j;
        std::memcpy(out + pos, bytes + i, j - i);
        pos += j - i;
        if (j < count) {
            out[pos++] = HDLC_ESCAPE;
            out[pos++] = uint8_t(bytes[j] ^ HDLC_ESCAPE_XOR);
            ++j;
        }
        i = j;
    }
}

uint32_t HdlcEncode(const uint8_t* payload, uint32_t length, uint8_t* out, int leadingFlag)
{
    uint32_t pos = 0;
    if (leadingFlag != 0)
        out[pos++] = HDLC_FLAG;
    uint16_t crc = HDLC_CRC_INIT;
    HdlcStuffAppend(out, pos, payload, length, crc);
    const uint16_t fcs = uint16_t(crc ^ 0xFFFF);
    PutStuffed(out, pos, uint8_t(fcs & 0xFF));
    PutStuffed(out, pos, uint8_t(fcs >> 8));
    out[pos++] = HDLC_FLAG;
    return pos;
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
