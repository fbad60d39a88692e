#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class CSimContext;

// The router's UDP port: answers discovery records and echoes the control records it
// accepts (erase NVRAM, enter and leave force-load mode, ready probe), acting on them.
// Works on whole datagrams, without sockets.
class CUdpService {
public:
    // Datagrams longer than this are oversized (a record frame takes at most 70 bytes).
    static constexpr size_t MAX_DATAGRAM = 512;

    explicit CUdpService(CSimContext& context);

    // One received datagram (`truncated` when it was longer than the receive buffer);
    // `arrivedOn` is the local address it was sent to. Complete reply datagrams are
    // appended to `replies`. True when it was a discovery record.
    bool HandleDatagram(const uint8_t* data, size_t length, bool truncated, const std::array<uint8_t, 4>& arrivedOn,
                        std::vector<std::vector<uint8_t>>& replies);

private:
    void Discovery(const uint8_t* record, const std::array<uint8_t, 4>& arrivedOn,
                   std::vector<std::vector<uint8_t>>& replies);
    void Control(const uint8_t* record, const std::array<uint8_t, 4>& arrivedOn,
                 std::vector<std::vector<uint8_t>>& replies);
    void Send(const uint8_t* record, const char* kind, std::vector<std::vector<uint8_t>>& replies);
    // Sends `length` bytes of `record` (zero-padded past 32) as one frame.
    void SendBytes(const uint8_t* record, size_t length, const char* kind, std::vector<std::vector<uint8_t>>& replies);

public:
    // The datagram of fault discovery-flood: a framed record of type 2 naming the router.
    std::vector<uint8_t> FloodDatagram(const std::array<uint8_t, 4>& arrivedOn);

private:
    CSimContext& m_Context;
};
