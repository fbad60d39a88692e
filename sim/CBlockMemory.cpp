#include "sim/CBlockMemory.h"

#include <cstdio>
#include <iterator>

void CBlockMemory::Clear() { *this = CBlockMemory(); }

void CBlockMemory::Write(uint32_t address, const uint8_t* data, size_t length)
{
    if (m_bUnverifiable || length == 0)
        return;
    auto same = m_Blocks.find(address);
    const size_t replaced = same == m_Blocks.end() ? 0 : same->second.size();
    if (m_nKept - replaced + length > MAX_KEPT_BYTES) {
        m_bUnverifiable = true;
        m_Blocks.clear();
        m_nKept = 0;
        return;
    }
    const uint64_t end = uint64_t(address) + length;
    auto next = m_Blocks.upper_bound(address);
    const bool overlapsNext = next != m_Blocks.end() && next->first < end;
    bool overlapsPrevious = false;
    if (same == m_Blocks.end() && next != m_Blocks.begin()) {
        auto previous = std::prev(next);
        overlapsPrevious = uint64_t(previous->first) + previous->second.size() > address;
    }
    if (overlapsNext || overlapsPrevious) {
        m_bUnverifiable = true;
        return;
    }
    m_Blocks[address].assign(data, data + length);
    m_nKept = m_nKept - replaced + length;
}

std::vector<CBlockMemory::Extent> CBlockMemory::Extents() const
{
    std::vector<Extent> extents;
    if (m_bUnverifiable)
        return extents;
    uint64_t state = DIGEST_START;
    uint64_t end = 0;
    for (const auto& [address, bytes] : m_Blocks) {
        if (extents.empty() || address != end) {
            if (!extents.empty())
                extents.back().digest = DigestText(state);
            extents.push_back(Extent{address, 0, std::string()});
            state = DIGEST_START;
        }
        state = DigestMore(state, bytes.data(), bytes.size());
        extents.back().length += bytes.size();
        end = uint64_t(address) + bytes.size();
    }
    if (!extents.empty())
        extents.back().digest = DigestText(state);
    return extents;
}

uint64_t CBlockMemory::DigestMore(uint64_t state, const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        state ^= data[i];
        state *= 0x100000001B3ull;
    }
    return state;
}

std::string CBlockMemory::DigestText(uint64_t state)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(state));
    return text;
}

std::string CBlockMemory::Digest(const uint8_t* data, size_t length)
{
    return DigestText(DigestMore(DIGEST_START, data, length));
}
