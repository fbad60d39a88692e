#include "sim/CDownloadTracker.h"

#include "images/CSampleImage.h"
#include "wire/Crc16.h"

void CDownloadTracker::Reset() { *this = CDownloadTracker(); }

void CDownloadTracker::OnBlock(uint32_t address, const uint8_t* data, uint32_t length)
{
    if (m_bLostPending && address != m_nLostAddress)
        m_bBroken = true; // the lost block was never written again
    m_bLostPending = false;
    m_nLastCrc = Crc16Compute(data, length);
    if (!m_bStarted) {
        m_bStarted = true;
        m_nUnits = 1;
        m_bMarker = SampleImage::ReadWirelessSampleVersion(data, length, m_strVersion);
    } else if (address == m_nLastAddress) {
        m_nBytes -= m_nNext - m_nLastAddress; // the same block again
    } else if (address != m_nNext) {
        ++m_nUnits;
    }
    m_Memory.Write(address, data, length);
    m_nLastAddress = address;
    m_nNext = address + length;
    m_nBytes += length;
}

void CDownloadTracker::OnBlockLost(uint32_t address)
{
    if (m_bLostPending && address != m_nLostAddress)
        m_bBroken = true;
    m_bLostPending = true;
    m_nLostAddress = address;
}

bool CDownloadTracker::IsComplete() const { return m_bStarted && m_bMarker && !m_bBroken && !m_bLostPending; }
