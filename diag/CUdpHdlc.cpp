#include "diag/CUdpHdlc.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/CDeadline.h"
#include "platform/CoreWarning.h"
#include "platform/TextCodec.h"
#include "wire/HdlcFraming.h"
#include "wire/RouterAddress.h"

namespace {

// Text of a discovery reply: bytes 11..31, up to the first zero byte.
constexpr size_t REPLY_TEXT_OFFSET = 11;
constexpr size_t REPLY_TEXT_MAX = 21;

std::string AddressText(uint32_t networkOrder)
{
    uint8_t ip[4];
    std::memcpy(ip, &networkOrder, sizeof ip);
    return FormatIpv4(ip);
}

} // namespace

CUdpHdlc::CUdpHdlc(const uint8_t ip[4], uint16_t port, const std::string& interfaceName, const CWsaEvent* cancel)
    : m_pCancel(cancel)
{
    m_UdpPort.SetInterface(interfaceName);
    m_UdpPort.SetCancelHandle(cancel);
    // Toward one router (a unicast address) only its own address and port can answer; a
    // broadcast takes replies from anyone, each judged by AcceptDiscoveryReply.
    m_UdpPort.SetPeerOnly(true);
    if (!m_UdpPort.SetConfig(FormatIpv4(ip), port)) {
        ShowCoreWarning("m_UdpPort.SetConfig() failed");
        return;
    }
    if (!m_UdpPort.Open())
        ShowCoreWarning("m_UdpPort.Open() failed");
}

CUdpHdlc::~CUdpHdlc() { m_UdpPort.Close(); }

bool CUdpHdlc::SendFrame(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs)
{
    if (HdlcMaxFrameLength(length) > FRAME_BUFFER_SIZE)
        return false;
    uint8_t frame[FRAME_BUFFER_SIZE];
    const uint32_t frameLength = HdlcEncode(bytes, length, frame, 1);
    return frameLength != 0 && m_UdpPort.Write(frame, frameLength, timeoutMs);
}

bool CUdpHdlc::ReceiveFrame(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t timeoutMs)
{
    if (outLength != nullptr)
        *outLength = 0;
    uint8_t datagram[FRAME_BUFFER_SIZE];
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
    uint8_t payload[FRAME_BUFFER_SIZE];
    const uint32_t length = HdlcDecode(datagram, std::min<uint32_t>(size, FRAME_BUFFER_SIZE), payload);
    if (length == 0)
        return false;
    if (destination != nullptr)
        std::memcpy(destination, payload, std::min(length, capacity));
    if (outLength != nullptr)
        *outLength = length;
    return true;
}

bool CUdpHdlc::SendRecord() { return SendFrame(m_Request.Data(), UdpRecord::SIZE, SEND_TIMEOUT_MS); }

bool CUdpHdlc::ReceiveRecord(uint32_t timeoutMs)
{
    uint8_t payload[FRAME_BUFFER_SIZE];
    uint32_t length = 0;
    if (!ReceiveFrame(payload, sizeof(payload), &length, timeoutMs))
        return false;
    if (length != UdpRecord::SIZE)
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
    if (reply[UdpRecord::TYPE_OFFSET] != UDP_DISCOVERY)
        return false;
    const uint8_t* replyMac = reply + UdpRecord::MAC_OFFSET;
    if (std::all_of(replyMac, replyMac + 6, [](uint8_t b) { return b == 0; }))
        return false;
    if (mac != nullptr)
        std::memcpy(mac, replyMac, 6);
    if (ip != nullptr)
        std::memcpy(ip, reply + UdpRecord::IP_OFFSET, 4);
    if (text != nullptr) {
        const uint8_t* start = reply + REPLY_TEXT_OFFSET;
        const size_t length = std::find(start, start + REPLY_TEXT_MAX, 0) - start;
        *text = MakePrintable(start, length);
    }
    return true;
}

bool CUdpHdlc::AcceptDiscoveryReply(const uint8_t* datagram, uint32_t size, uint32_t sender, DiscoveryReply* reply,
                                    std::string* why)
{
    const std::string from = "discovery reply from " + AddressText(sender) + " skipped: ";
    uint8_t payload[FRAME_BUFFER_SIZE];
    uint32_t length = 0;
    if (!DecodeDatagram(datagram, size, payload, sizeof(payload), &length)) {
        *why = from + "not a frame (" + std::to_string(size) + " bytes)";
        return false;
    }
    if (length != UdpRecord::SIZE) {
        *why = from + std::to_string(length) + " bytes, not one 32-byte record";
        return false;
    }
    DiscoveryReply parsed;
    if (!ParseDiscoveryReply(payload, parsed.mac.data(), parsed.ip.data(), &parsed.text)) {
        *why = from + (payload[UdpRecord::TYPE_OFFSET] != UDP_DISCOVERY
                           ? "record of type " + std::to_string(payload[UdpRecord::TYPE_OFFSET])
                           : std::string("zero MAC address"));
        return false;
    }
    const std::string named = FormatIpv4(parsed.ip);
    if (named != AddressText(sender)) {
        *why = from + "it names " + named + ", not its own address";
        return false;
    }
    *reply = std::move(parsed);
    return true;
}

void CUdpHdlc::NoteSkipped(std::string why)
{
    ++m_nSkipped;
    if (m_SkipNotes.size() < MAX_SKIP_NOTES)
        m_SkipNotes.push_back(std::move(why));
}

bool CUdpHdlc::Cancelled() const { return m_pCancel != nullptr && m_pCancel->IsSet(); }

bool CUdpHdlc::CollectReplies(bool firstOnly, std::vector<DiscoveryReply>* replies)
{
    m_SkipNotes.clear();
    m_nSkipped = 0;
    m_Request.Clear();
    m_Request.SetType(UDP_DISCOVERY);
    if (!SendRecord())
        return false;
    // One deadline for the whole try: a host that keeps sending cannot stretch it.
    const CDeadline deadline(DISCOVER_REPLY_TIMEOUT_MS);
    bool found = false;
    while (!Cancelled() && !deadline.Passed()) {
        uint8_t datagram[FRAME_BUFFER_SIZE];
        uint32_t received = 0;
        uint32_t sender = 0;
        if (!m_UdpPort.ReadFrom(datagram, sizeof(datagram), &received, deadline.Left(), &sender)) {
            const std::error_code err = m_UdpPort.LastError();
            // An empty or oversized datagram is a bad reply, not the end of the try.
            if (m_UdpPort.IsOpen() && (!err || err == SocketError(SocketErrc::MessageTooLong))) {
                NoteSkipped("discovery reply from " + AddressText(sender) +
                            " skipped: " + (!err ? "empty datagram" : "datagram too long"));
                continue;
            }
            break; // time-out, cancel or port failure
        }
        DiscoveryReply reply;
        std::string why;
        if (!AcceptDiscoveryReply(datagram, received, sender, &reply, &why)) {
            NoteSkipped(std::move(why));
            continue;
        }
        found = true;
        if (replies != nullptr && std::find(replies->begin(), replies->end(), reply) == replies->end())
            replies->push_back(std::move(reply));
        if (firstOnly)
            break;
    }
    return found;
}

bool CUdpHdlc::Discover(uint8_t mac[6], uint8_t ip[4], std::string* text)
{
    std::vector<DiscoveryReply> replies;
    if (!CollectReplies(true, &replies))
        return false;
    const DiscoveryReply& reply = replies.front();
    if (mac != nullptr)
        std::memcpy(mac, reply.mac.data(), 6);
    if (ip != nullptr)
        std::memcpy(ip, reply.ip.data(), 4);
    if (text != nullptr)
        *text = reply.text;
    return true;
}

bool CUdpHdlc::DiscoverAll(std::vector<DiscoveryReply>* replies) { return CollectReplies(false, replies); }
