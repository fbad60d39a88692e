#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

// The simulator's record of everything it received and sent: one JSON object per line,
// holding the time, the protocol, the direction, the decoded fields and a hex dump.
// Protocol violations by the peer are written the same way and counted. Safe to use from
// several threads; works without a file too (then only the count is kept).
class CTranscript {
public:
    // Hex dumps stop after this many bytes; the record then says "truncated": true.
    static constexpr size_t MAX_HEX_BYTES = 256;

    CTranscript();
    ~CTranscript();
    CTranscript(const CTranscript&) = delete;
    CTranscript& operator=(const CTranscript&) = delete;

    // Opens (creates or truncates) the file; false with errno-based text on failure.
    bool Open(const std::string& path, std::string& error);

    // A message received ("in") or sent ("out") on `proto` ("udp", "tcp", "telnet").
    // `fields` holds the decoded fields; the bytes become "hex" and "length".
    void Message(const char* proto, const char* dir, uint32_t conn, const nlohmann::json& fields, const uint8_t* bytes,
                 size_t length);
    // Something the peer sent that the protocol does not allow; counted.
    void Violation(const char* proto, uint32_t conn, const std::string& what, const uint8_t* bytes, size_t length);
    // A state change or other note of the simulator itself.
    void Event(const char* proto, uint32_t conn, const std::string& what,
               const nlohmann::json& fields = nlohmann::json::object());

    uint32_t ViolationCount() const { return m_Violations.load(); }
    // True when records go to a file: a caller may skip working out what only a record holds.
    bool IsOpen() const { return m_bOpen.load(); }
    // Whether violations are also echoed to standard error (the first 50 of them).
    void SetEchoViolations(bool echo) { m_bEcho = echo; }

    static std::string Hex(const uint8_t* bytes, size_t length);

private:
    void Write(nlohmann::json record, const uint8_t* bytes, size_t length);

    std::mutex m_Mutex;
    std::FILE* m_File = nullptr;
    std::atomic<bool> m_bOpen{false}; // m_File is set: records are worth building
    std::atomic<uint32_t> m_Violations{0};
    std::atomic<uint32_t> m_Reported{0};
    std::atomic<bool> m_bEcho{true};
    uint32_t m_StartTick;
};
