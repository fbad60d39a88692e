#include "images/CAppFileReader.h"

CAppFileReader::CAppFileReader(const CBinFile& file, uint32_t chunkSize) : m_pFile(&file), m_nChunkSize(chunkSize) {}

bool CAppFileReader::SelectPart(size_t part)
{
    if (part >= m_pFile->GetPartCount() || m_pFile->GetData() == nullptr) {
        m_nPos = 0;
        m_nRemaining = 0;
        return false;
    }
    const DataSpan& span = m_pFile->GetSpan(part);
    m_nPos = span.m_nOffset;
    m_nRemaining = span.m_nLength;
    return true;
}

const uint8_t* CAppFileReader::NextChunk(uint32_t& length)
{
    length = m_nChunkSize < m_nRemaining ? m_nChunkSize : m_nRemaining;
    if (length == 0)
        return nullptr;
    const uint8_t* chunk = m_pFile->GetData() + m_nPos;
    m_nPos += length;
    m_nRemaining -= length;
    return chunk;
}

uint32_t CAppFileReader::GetChunkCount(size_t part) const
{
    if (m_nChunkSize == 0 || part >= m_pFile->GetPartCount())
        return 0;
    uint32_t length = m_pFile->GetSpan(part).m_nLength;
    return length / m_nChunkSize + (length % m_nChunkSize != 0 ? 1 : 0);
}
