#pragma once

#include <cstdint>
#include <string>

#include "diag/UdpRecord.h"
#include "net/CUdpPort.h"
#include "platform/NonCopyable.h"

// One framed control-record exchange with the router over UDP: each frame (always with a
// leading flag) travels as one datagram. Constructed for one target and one operation.
class CUdpHdlc : public NonCopyable {
public:
    static constexpr uint32_t kFrameBufferSize = 512;
    static constexpr uint32_t kSendTimeoutMs = 2000;
    static constexpr uint32_t kDiscoverReplyTimeoutMs = 3000;

    // Configures and opens the port for `ip` (first number first) and `port`; failures are
    // raised through ShowCoreWarning and leave the object unable to send.
    CUdpHdlc(const uint8_t ip[4], uint16_t port);
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
    // Broadcast discovery; reads replies until one of type 1 with a non-zero MAC arrives.
    bool Discover(uint8_t mac[6], uint8_t ip[4], std::string* text);

    // Decodes one received datagram (at most kFrameBufferSize bytes are looked at) and copies
    // at most `capacity` payload bytes to `destination`; `*outLength` gets the full payload
    // length. False for a frame that does not decode.
    static bool DecodeDatagram(const uint8_t* datagram, uint32_t size, uint8_t* destination, uint32_t capacity,
                               uint32_t* outLength);
    // Takes a decoded discovery reply (`reply` holds at least 32 readable bytes). True for a
    // type-1 record with a non-zero MAC, whose fields then go to the outputs.
    static bool ParseDiscoveryReply(const uint8_t* reply, uint8_t mac[6], uint8_t ip[4], std::string* text);

    CUdpPort m_UdpPort;
    UdpRecord m_Request;
    UdpRecord m_Reply;
};
