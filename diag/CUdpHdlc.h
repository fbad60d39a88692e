#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "net/CUdpPort.h"
#include "platform/NonCopyable.h"
#include "wire/UdpRecord.h"

// One router that answered a discovery: the fields of its reply.
struct DiscoveryReply {
    std::array<uint8_t, 6> mac{};
    std::array<uint8_t, 4> ip{};
    std::string text;
    bool operator==(const DiscoveryReply&) const = default;
};

// One framed control-record exchange with the router over UDP: each frame (always with a
// leading flag) travels as one datagram. Constructed for one target and one operation. A
// unicast target (the router's address, or a discovery target naming one device) is the
// only sender whose datagrams are taken: its socket is connected to that address and port,
// so that no other host on the LAN can answer for it.
class CUdpHdlc : public NonCopyable {
public:
    static constexpr uint32_t FRAME_BUFFER_SIZE = 512;
    static constexpr uint32_t SEND_TIMEOUT_MS = 2000;
    // How long one discovery try listens for replies, counted from its send.
    static constexpr uint32_t DISCOVER_REPLY_TIMEOUT_MS = 3000;
    // Skipped discovery replies described per try; the rest are only counted.
    static constexpr size_t MAX_SKIP_NOTES = 8;

    // Configures and opens the port for `ip` (first number first) and `port`; failures are
    // raised through ShowCoreWarning and leave the object unable to send. A non-empty
    // `interfaceName` ties the socket to that network interface. `cancel` (an event or
    // null, not owned) ends a discovery wait at once when it is set.
    CUdpHdlc(const uint8_t ip[4], uint16_t port, const std::string& interfaceName = std::string(),
             const CWsaEvent* cancel = nullptr);
    ~CUdpHdlc() override;

    bool SendFrame(const uint8_t* bytes, uint32_t length, uint32_t timeoutMs);
    // The next datagram, decoded. `*outLength` gets the decoded payload length; at most
    // `capacity` bytes are copied to `destination`.
    bool ReceiveFrame(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t timeoutMs);
    bool SendRecord();
    // The next datagram must decode to exactly 32 bytes; it goes to m_Reply.
    bool ReceiveRecord(uint32_t timeoutMs);
    // Sends m_Request and requires the next record to equal it.
    bool Exchange(uint32_t timeoutMs);
    // Broadcast discovery: sends the request and reads replies for at most
    // DISCOVER_REPLY_TIMEOUT_MS from the send (one deadline, however many datagrams arrive)
    // until one is accepted (AcceptDiscoveryReply). False on time-out, a send or port
    // failure, or a cancel.
    bool Discover(uint8_t mac[6], uint8_t ip[4], std::string* text);
    // The same request, but every accepted reply until the deadline is collected (each
    // router once). True when at least one was.
    bool DiscoverAll(std::vector<DiscoveryReply>* replies);
    // Why replies of the last discovery were skipped (at most MAX_SKIP_NOTES texts) and how
    // many were skipped in all.
    const std::vector<std::string>& SkipNotes() const { return m_SkipNotes; }
    int SkippedCount() const { return m_nSkipped; }

    // Decodes one received datagram (at most FRAME_BUFFER_SIZE bytes are looked at) and copies
    // at most `capacity` payload bytes to `destination`; `*outLength` gets the full payload
    // length. False for a frame that does not decode.
    static bool DecodeDatagram(const uint8_t* datagram, uint32_t size, uint8_t* destination, uint32_t capacity,
                               uint32_t* outLength);
    // Takes a decoded discovery reply (`reply` holds at least 32 readable bytes). True for a
    // type-1 record with a non-zero MAC, whose fields then go to the outputs.
    static bool ParseDiscoveryReply(const uint8_t* reply, uint8_t mac[6], uint8_t ip[4], std::string* text);
    // Judges one received datagram as a discovery reply. It counts only when it decodes to
    // exactly one 32-byte type-1 record with a non-zero MAC, and when `sender` (network
    // byte order) is the address the record carries: a router answers from its own
    // address, and no other host may name where the tool connects. True with the fields
    // in `*reply`; false with the reason in `*why`.
    static bool AcceptDiscoveryReply(const uint8_t* datagram, uint32_t size, uint32_t sender, DiscoveryReply* reply,
                                     std::string* why);

    CUdpPort m_UdpPort;
    UdpRecord m_Request;
    UdpRecord m_Reply;

private:
    // Sends the discovery request and reads replies until the deadline; `firstOnly` ends
    // at the first accepted one.
    bool CollectReplies(bool firstOnly, std::vector<DiscoveryReply>* replies);
    void NoteSkipped(std::string why);
    bool Cancelled() const;

    const CWsaEvent* m_pCancel = nullptr;
    std::vector<std::string> m_SkipNotes;
    int m_nSkipped = 0;
};
