#include "diag/CUdpHdlc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "diag/HdlcFraming.h"
#include "platform/CoreWarning.h"
#include "platform/TextCodec.h"

namespace {

constexpr uint32_t DISCOVER_BUFFER_SIZE = 1024;
constexpr uint8_t FILLER = 0xCD;
// Text of a discovery reply: bytes 11..31, up to the first zero byte.
constexpr size_t REPLY_TEXT_OFFSET = 11;
constexpr size_t REPLY_TEXT_MAX = 21;
constexpr int MAX_SKIPPED_REPLIES = 256;

} // namespace

CUdpHdlc::CUdpHdlc(const uint8_t ip[4], uint16_t port)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    if (!m_UdpPort.SetConfig(text, port)) {
        ShowCoreWarning("m_UdpPort.SetConfig() failed");
        return;
    }
    if (!m_UdpPort.Open())
        ShowCoreWarning("m_UdpPort.Open() failed");
}

CUdpHdlc::~CUdpHdlc()
{
    m_UdpPort.Close();
}

bool CUdpHdlc::SendFrame(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs)
{
    if (HdlcMaxFrameLength(length) > kFrameBufferSize)
        return false;
    uint8_t frame[kFrameBufferSize];
    const uint32_t frameLength = HdlcEncode(bytes, length, frame, 1);
    return m_UdpPort.Write(frame, frameLength, timeoutMs);
}

bool CUdpHdlc::ReceiveFrame(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t timeoutMs)
{
    if (outLength != nullptr)
        *outLength = 0;
    uint8_t datagram[kFrameBufferSize];
    uint32_t received = 0;
    if (!m_UdpPort.Read(datagram, sizeof(datagram), &received, timeoutMs) || received == 0)
        return false;
    return DecodeDatagram(datagram, received, destination, capacity, outLength);
}

bool CUdpHdlc::DecodeDatagram(const uint8_t* datagram, uint32_t size, uint8_t* destination, uint32_t capacity,
                              uint32_t* outLength)
{
    if (outLength != nullptr)
        *outLength = 0;
    // Decoded into a buffer that holds any datagram the port delivers (the payload is never
    // longer than the frame), and only then copied to the caller's possibly smaller buffer.
    uint8_t payload[kFrameBufferSize];
    const uint32_t length = HdlcDecode(datagram, std::min<uint32_t>(size, kFrameBufferSize), payload);
    if (length == 0)
        return false;
    if (destination != nullptr)
        std::memcpy(destination, payload, std::min(length, capacity));
    if (outLength != nullptr)
        *outLength = length;
    return true;
}

bool CUdpHdlc::SendRecord()
{
    return SendFrame(m_Request.Data(), UdpRecord::kSize, kSendTimeoutMs);
}

bool CUdpHdlc::ReceiveRecord(uint32_t timeoutMs)
{
    uint8_t payload[kFrameBufferSize];
    uint32_t length = 0;
    if (!ReceiveFrame(payload, sizeof(payload), &length, timeoutMs))
        return false;
    if (length != UdpRecord::kSize)
        return false;
    m_Reply.Assign(payload);
    return true;
}

bool CUdpHdlc::Exchange(uint32_t timeoutMs)
{
    if (!SendRecord())
        return false;
    if (!ReceiveRecord(timeoutMs))
        return false;
    return m_Reply == m_Request;
}

bool CUdpHdlc::ParseDiscoveryReply(const uint8_t* reply, uint8_t mac[6], uint8_t ip[4], std::string* text)
{
    if (reply[UdpRecord::kTypeOffset] != UDP_DISCOVERY)
        return false;
    const uint8_t* replyMac = reply + UdpRecord::kMacOffset;
    if (std::all_of(replyMac, replyMac + 6, [](uint8_t b) { return b == 0; }))
        return false;
    if (mac != nullptr)
        std::memcpy(mac, replyMac, 6);
    if (ip != nullptr)
        std::memcpy(ip, reply + UdpRecord::kIpOffset, 4);
    if (text != nullptr) {
        const uint8_t* start = reply + REPLY_TEXT_OFFSET;
        const size_t length = std::find(start, start + REPLY_TEXT_MAX, 0) - start;
        *text = MakePrintable(start, length);
    }
    return true;
}

bool CUdpHdlc::Discover(uint8_t mac[6], uint8_t ip[4], std::string* text)
{
    m_Request.Clear();
    m_Request.SetType(UDP_DISCOVERY);
    if (!SendRecord())
        return false;
    uint8_t reply[DISCOVER_BUFFER_SIZE];
    // Replies that are not the answer are skipped, but not without end: a peer that keeps
    // sending them within the reply time-out would otherwise hold the discovery forever.
    for (int skipped = 0; skipped < MAX_SKIPPED_REPLIES; ++skipped) {
        std::memset(reply, FILLER, UdpRecord::kSize);
        uint32_t length = 0;
        if (!ReceiveFrame(reply, sizeof(reply), &length, kDiscoverReplyTimeoutMs))
            return false;
        // A short reply reads as the filler beyond its end.
        if (ParseDiscoveryReply(reply, mac, ip, text))
            return true;
    }
    return false;
}
