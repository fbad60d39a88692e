#include "net/CLockedBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

CLockedBuffer::CLockedBuffer(int initial) { Init(initial); }

void CLockedBuffer::Init(int initial)
{
    const int capacity = std::clamp(initial, MIN_CAPACITY, MAX_CAPACITY);
    std::lock_guard lock(m_Lock);
    m_pData.reset(new (std::nothrow) uint8_t[capacity]);
    m_nCapacity = m_pData ? capacity : 0;
    m_nLength = 0;
}

bool CLockedBuffer::Append(const void* bytes, int n)
{
    if (bytes == nullptr || n <= 0)
        return false;
    std::lock_guard lock(m_Lock);
    const int room = MAX_CAPACITY - m_nLength;
    const int take = std::min(n, room);
    if (take <= 0)
        return false;
    if (m_nCapacity - m_nLength < take) {
        // Smallest multiple (at least twice) of the capacity that holds the new bytes,
        // limited to MAX_CAPACITY.
        const int base = std::max(m_nCapacity, MIN_CAPACITY);
        long long grown = 2LL * base;
        while (grown - m_nLength < take)
            grown += base;
        const int capacity = static_cast<int>(std::min<long long>(grown, MAX_CAPACITY));
        std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[capacity]);
        if (!block)
            return false;
        if (m_nLength > 0)
            std::memcpy(block.get(), m_pData.get(), static_cast<size_t>(m_nLength));
        m_pData = std::move(block);
        m_nCapacity = capacity;
    }
    std::memcpy(m_pData.get() + m_nLength, bytes, static_cast<size_t>(take));
    m_nLength += take;
    return take == n;
}

int CLockedBuffer::Fetch(void* destination, int max, int offset, bool clear)
{
    std::lock_guard lock(m_Lock);
    int k = 0;
    if (destination != nullptr && max > 0 && offset >= 0 && offset < m_nLength) {
        k = std::min(max, m_nLength - offset);
        std::memcpy(destination, m_pData.get() + offset, static_cast<size_t>(k));
    }
    if (clear)
        m_nLength = 0;
    return k;
}

int CLockedBuffer::GetLength() const
{
    std::lock_guard lock(m_Lock);
    return m_nLength;
}

int CLockedBuffer::GetCapacity() const
{
    std::lock_guard lock(m_Lock);
    return m_nCapacity;
}
