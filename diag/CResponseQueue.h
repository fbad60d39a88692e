#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/CCriticalSection.h"
#include "platform/CEvent.h"
#include "platform/NonCopyable.h"

// Hands received payloads from the channel reader to the worker that waits for an answer.
// The worker sets a match pattern before it sends a request; Store signals when a matching
// payload arrives; WaitResponse takes the newest matching payload and empties the store.
//
// Match rule: a pattern whose first byte is 0x02 selects acknowledgement mode (a 3-byte
// payload starting 0x03 matches, otherwise the first min(pattern, payload) bytes must
// agree). In normal mode an error answer (first byte 0x13, 0x14, 0x15 or 0x18) is compared
// behind its first byte; any other payload from its first byte. An empty pattern matches
// everything.
class CResponseQueue : public NonCopyable {
public:
    static constexpr int MAX_ENTRIES = 50;
    static constexpr uint32_t MAX_PATTERN = 16;

    CResponseQueue() = default;
    ~CResponseQueue() override = default;

    // Keeps at most 16 bytes of the pattern and clears a pending arrival signal. Stored
    // payloads stay.
    void SetMatchPattern(const uint8_t* bytes, uint32_t count);

    // Appends a payload; false when 50 are already stored (the payload is dropped).
    bool Store(const uint8_t* payload, uint32_t length);

    // Waits up to `timeoutMs` for a matching payload and copies the newest matching one
    // (cut to `capacity`). Whatever happens after the argument check, the store is empty
    // afterwards. A null destination or zero capacity fails at once and leaves the store.
    bool WaitResponse(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t timeoutMs);

    bool IsMatch(const uint8_t* payload, uint32_t length) const;
    // The pattern set selects acknowledgement mode (its first byte is 0x02).
    bool IsAcknowledgementMode() const;
    // Bare acknowledgements (the single byte 02) stored while a block-write pattern (02 and
    // an address) was set, counted from construction; none is ever dropped from the count.
    uint32_t GetBareAckCount() const { return m_nBareAcks.load(); }

    // Number of stored payloads (for tests and diagnostics).
    int GetCount();

private:
    struct Entry {
        uint32_t offset;
        uint32_t length;
    };

    void Empty();

    Entry m_Entries[MAX_ENTRIES] = {};
    int m_Count = 0;
    std::unique_ptr<uint8_t[]> m_pData;
    uint32_t m_Capacity = 0;
    uint32_t m_Used = 0;
    // Written by the worker before a request, read by the reader thread; atomics keep the
    // cross-thread reads defined.
    std::atomic<uint8_t> m_Pattern[MAX_PATTERN] = {};
    std::atomic<uint32_t> m_PatternLength{0};
    std::atomic<uint32_t> m_nBareAcks{0};
    CEvent m_Arrived{false, false};
    CCriticalSection m_StoreLock;
};
