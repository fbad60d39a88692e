#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/CBlockMemory.h"

// Follows the block writes of one download (from unlock to reset) to tell whether a whole
// image went in and which version it carries. The first block at the first unit's start
// must begin with the wireless version marker; blocks then run on without gaps inside each
// unit (a retried block at the same address is fine), a block elsewhere starts a new unit.
// Each block's data checksum is kept too, and the bytes of every block, so that what was
// written can be compared with the image the tool meant to write.
class CDownloadTracker {
public:
    void Reset();
    void OnBlock(uint32_t address, const uint8_t* data, uint32_t length);
    // A refused or unanswered write leaves a hole unless the same block is retried.
    void OnBlockLost(uint32_t address);

    bool IsComplete() const;
    // CRC-16 (the image format's checksum) of the data of the last block written.
    uint16_t LastBlockCrc() const { return m_nLastCrc; }
    bool HasMarker() const { return m_bMarker; }
    const std::string& Version() const { return m_strVersion; }
    uint32_t Units() const { return m_nUnits; }
    uint64_t Bytes() const { return m_nBytes; }
    // Firmware images have more than two units, dashboard images one or two.
    bool LooksLikeDashboard() const { return m_nUnits <= 2; }
    // The written bytes as contiguous extents with their digests (CBlockMemory).
    std::vector<CBlockMemory::Extent> Extents() const { return m_Memory.Extents(); }
    bool IsVerifiable() const { return m_Memory.IsVerifiable(); }

private:
    bool m_bStarted = false;
    bool m_bMarker = false;
    bool m_bBroken = false;
    bool m_bLostPending = false;
    uint32_t m_nLostAddress = 0;
    uint32_t m_nLastAddress = 0;
    uint32_t m_nNext = 0;
    uint32_t m_nUnits = 0;
    uint64_t m_nBytes = 0;
    uint16_t m_nLastCrc = 0;
    std::string m_strVersion;
    CBlockMemory m_Memory;
};
