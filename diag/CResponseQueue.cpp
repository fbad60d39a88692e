#include "diag/CResponseQueue.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "wire/DiagProtocol.h"

namespace {

using DiagProtocol::DL_ACK;
using DiagProtocol::DL_NAK;

} // namespace

void CResponseQueue::SetMatchPattern(const uint8_t* bytes, uint32_t count)
{
    count = std::min(count, MAX_PATTERN);
    if (bytes == nullptr)
        count = 0;
    for (uint32_t i = 0; i < MAX_PATTERN; ++i)
        m_Pattern[i].store(i < count ? bytes[i] : 0, std::memory_order_relaxed);
    m_PatternLength.store(count, std::memory_order_release);
    m_Arrived.Reset();
}

bool CResponseQueue::IsMatch(const uint8_t* payload, uint32_t length) const
{
    const uint32_t patternLength = m_PatternLength.load(std::memory_order_acquire);
    if (patternLength == 0)
        return true;
    if (payload == nullptr || length == 0)
        return false;

    auto equalFrom = [&](uint32_t payloadStart, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            if (payload[payloadStart + i] != m_Pattern[i].load(std::memory_order_relaxed))
                return false;
        }
        return true;
    };

    if (m_Pattern[0].load(std::memory_order_relaxed) == DL_ACK) {
        if (length == DiagProtocol::DL_NAK_LENGTH && payload[0] == DL_NAK)
            return true;
        return equalFrom(0, std::min(patternLength, length));
    }
    if (DiagProtocol::IsErrorCode(payload[0]))
        return length >= patternLength + 1 && equalFrom(1, patternLength);
    return length >= patternLength && equalFrom(0, patternLength);
}

bool CResponseQueue::IsAcknowledgementMode() const
{
    return m_PatternLength.load(std::memory_order_acquire) != 0 &&
           m_Pattern[0].load(std::memory_order_relaxed) == DL_ACK;
}

bool CResponseQueue::Store(const uint8_t* payload, uint32_t length)
{
    if (payload == nullptr && length != 0)
        return false;
    {
        CSingleLock lock(&m_StoreLock, true);
        if (m_Count >= MAX_ENTRIES)
            return false;
        if (m_Capacity - m_Used < length) {
            const uint64_t wanted = uint64_t(m_Used) + length;
            if (wanted > UINT32_MAX)
                return false;
            std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[wanted]);
            if (!grown)
                return false;
            if (m_Used != 0)
                std::memcpy(grown.get(), m_pData.get(), m_Used);
            m_pData = std::move(grown);
            m_Capacity = uint32_t(wanted);
        }
        if (length != 0)
            std::memcpy(m_pData.get() + m_Used, payload, length);
        m_Entries[m_Count] = Entry{m_Used, length};
        ++m_Count;
        m_Used += length;
    }
    // Counted before the signal, so that the worker it wakes finds it counted.
    if (length == 1 && payload[0] == DL_ACK && IsAcknowledgementMode() && m_PatternLength.load() > 1)
        ++m_nBareAcks;
    if (IsMatch(payload, length))
        m_Arrived.Set();
    return true;
}

bool CResponseQueue::WaitResponse(uint8_t* destination, uint32_t capacity, uint32_t* outLength, uint32_t timeoutMs)
{
    if (destination == nullptr || capacity == 0)
        return false;
    if (outLength != nullptr)
        *outLength = 0;

    bool result = false;
    if (m_Arrived.Wait(timeoutMs)) {
        CSingleLock lock(&m_StoreLock, true);
        if (m_Count != 0) {
            for (int k = m_Count - 1; k >= 0; --k) {
                const Entry& entry = m_Entries[k];
                const uint8_t* payload = m_pData ? m_pData.get() + entry.offset : nullptr;
                if (!IsMatch(payload, entry.length))
                    continue;
                const uint32_t copied = std::min(entry.length, capacity);
                if (copied != 0)
                    std::memcpy(destination, payload, copied);
                if (outLength != nullptr)
                    *outLength = copied;
                result = true;
                break;
            }
        }
    }
    Empty();
    return result;
}

int CResponseQueue::GetCount()
{
    CSingleLock lock(&m_StoreLock, true);
    return m_Count;
}

void CResponseQueue::Empty()
{
    CSingleLock lock(&m_StoreLock, true);
    m_Count = 0;
    m_Used = 0;
}
