#include "diag/HdlcFraming.h"

#include "images/Crc16.h"

namespace {

inline void CrcStep(uint16_t& crc, uint8_t byte)
{
    crc = Crc16Update(crc, byte);
}

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
    for (uint32_t i = 0; i < count; ++i) {
        PutStuffed(out, pos, bytes[i]);
        CrcStep(crc, bytes[i]);
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

    uint16_t crc = HDLC_CRC_INIT;
    uint32_t count = 0;
    while (index < end) {
        uint8_t byte = in[index++];
        if (byte == HDLC_ESCAPE) {
            if (index >= end)
                return 0; // escape with nothing after it
            byte = uint8_t(in[index++] ^ HDLC_ESCAPE_XOR);
        }
        // count never passes index, so writing in place never overtakes the reading.
        out[count++] = byte;
        CrcStep(crc, byte);
    }
    if (crc != HDLC_CRC_RESIDUE || count < 3)
        return 0;
    return count - 2;
}
