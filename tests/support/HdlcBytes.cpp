#include "tests/support/HdlcBytes.h"

#include "wire/HdlcFraming.h"

namespace kivtest {

Bytes Hex(const std::string& text)
{
    Bytes bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

std::string ToHex(const Bytes& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            text.push_back(' ');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

Bytes Frame(const Bytes& payload, int leading)
{
    Bytes frame(HdlcMaxFrameLength(static_cast<uint32_t>(payload.size())));
    frame.resize(HdlcEncode(payload.data(), static_cast<uint32_t>(payload.size()), frame, leading));
    return frame;
}

Bytes Unframe(const Bytes& frame)
{
    Bytes payload(frame.size() + 1);
    payload.resize(HdlcDecode(frame.data(), static_cast<uint32_t>(frame.size()), payload.data()));
    return payload;
}

std::vector<Bytes> Payloads(const Bytes& stream)
{
    std::vector<Bytes> payloads;
    Bytes body;
    for (uint8_t byte : stream) {
        if (byte != HDLC_FLAG) {
            body.push_back(byte);
            continue;
        }
        if (!body.empty())
            payloads.push_back(Unframe(body));
        body.clear();
    }
    return payloads;
}

} // namespace kivtest
