#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

// Record types of the UDP control channel to the router.
constexpr uint8_t UDP_DISCOVERY = 1;
constexpr uint8_t UDP_ERASE_NVRAM = 6;
constexpr uint8_t UDP_ENTER_FORCE_LOAD = 7;
constexpr uint8_t UDP_LEAVE_FORCE_LOAD = 8;
constexpr uint8_t UDP_READY_PROBE = 10;

// The 32-byte record carried as the payload of every frame on the UDP path:
//   0      type
//   1..4   IPv4 address, first number of the dotted form first
//   5..10  MAC address
//   11..30 text, 20 bytes, zero-filled
//   31     spare byte, zero in every record this program sends
// A new record is all zero.
class UdpRecord {
public:
    static constexpr size_t SIZE = 32;
    static constexpr size_t TYPE_OFFSET = 0;
    static constexpr size_t IP_OFFSET = 1;
    static constexpr size_t MAC_OFFSET = 5;
    static constexpr size_t TEXT_OFFSET = 11;
    static constexpr size_t TEXT_LENGTH = 20;
    static constexpr size_t SPARE_OFFSET = 31;

    UdpRecord() = default;

    uint8_t GetType() const { return m_Bytes[TYPE_OFFSET]; }
    void SetType(uint8_t type) { m_Bytes[TYPE_OFFSET] = type; }

    void GetIp(uint8_t ip[4]) const;
    void SetIp(const uint8_t ip[4]);
    void GetMac(uint8_t mac[6]) const;
    void SetMac(const uint8_t mac[6]);
    bool HasZeroMac() const;

    // Text bytes 11..30 up to the first zero byte.
    std::string GetText() const;
    // Writes at most 20 bytes of `text`, the rest zero.
    void SetText(const std::string& text);

    uint8_t GetSpare() const { return m_Bytes[SPARE_OFFSET]; }
    void SetSpare(uint8_t value) { m_Bytes[SPARE_OFFSET] = value; }

    void Clear() { m_Bytes.fill(0); }
    // Copies exactly SIZE bytes in / out.
    void Assign(const uint8_t* bytes) { std::copy(bytes, bytes + SIZE, m_Bytes.begin()); }
    const uint8_t* Data() const { return m_Bytes.data(); }
    uint8_t* Data() { return m_Bytes.data(); }

    bool operator==(const UdpRecord& other) const = default;

private:
    std::array<uint8_t, SIZE> m_Bytes{};
};
