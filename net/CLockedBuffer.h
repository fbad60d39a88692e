#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/NonCopyable.h"

// Byte buffer shared by a receive thread (Append) and a consumer (Fetch) under one lock.
// Grows by whole multiples of its capacity and never shrinks, but never beyond
// MAX_CAPACITY: bytes that would go past it are dropped (a peer that floods the client
// cannot grow memory without bound; the consumer only ever takes the first bytes).
class CLockedBuffer : public NonCopyable {
public:
    static constexpr int MIN_CAPACITY = 16;
    static constexpr int MAX_CAPACITY = 64 * 1024;

    explicit CLockedBuffer(int initial = MIN_CAPACITY);
    ~CLockedBuffer() override = default;

    // Drops the content and sets the capacity to the larger of `initial` and 16.
    void Init(int initial);
    // Stores `n` bytes behind the others. False when `bytes` is null, `n` <= 0, or the
    // bytes (or some of them) did not fit under MAX_CAPACITY; what fits is kept.
    bool Append(const void* bytes, int n);
    // Copies up to `max` bytes from `offset` to `destination`; with `clear` the buffer is
    // emptied afterwards (also of bytes beyond those copied). Returns the count copied.
    int Fetch(void* destination, int max, int offset, bool clear);

    int GetLength() const;
    int GetCapacity() const;

private:
    mutable std::mutex m_Lock;
    std::unique_ptr<uint8_t[]> m_pData;
    int m_nCapacity = 0;
    int m_nLength = 0;
};
