// Discovery reply handling fed arbitrary datagrams: decode into the reply buffer, then parse.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "diag/CUdpHdlc.h"
#include "wire/UdpRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t reply[1024];
    std::memset(reply, 0xCD, UdpRecord::SIZE);
    uint32_t length = 0;
    if (!CUdpHdlc::DecodeDatagram(data, uint32_t(size), reply, sizeof(reply), &length))
        return 0;
    if (length > CUdpHdlc::FRAME_BUFFER_SIZE)
        __builtin_trap();
    uint8_t mac[6], ip[4];
    std::string text;
    if (CUdpHdlc::ParseDiscoveryReply(reply, mac, ip, &text) && text.size() > 21 * 3)
        __builtin_trap();
    // The whole judgement of a reply, with a sender taken from the input's first bytes.
    uint32_t sender = 0;
    std::memcpy(&sender, data, std::min<size_t>(size, sizeof sender));
    DiscoveryReply accepted;
    std::string why;
    if (CUdpHdlc::AcceptDiscoveryReply(data, uint32_t(size), sender, &accepted, &why)) {
        if (std::memcmp(accepted.ip.data(), &sender, 4) != 0)
            __builtin_trap();
    } else if (why.empty()) {
        __builtin_trap();
    }
    return 0;
}
