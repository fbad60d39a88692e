#include "images/CAppFileReader.h"

CAppFileReader::CAppFileReader(const CBinFile& file, uint32_t chunkSize)
    : m_pFile(&file), m_nChunkSize(chunkSize), m_Chunk(file.IsVerified() ? 0 : chunkSize)
{
}

bool CAppFileReader::SelectPart(size_t part)
{
    m_strFailure.clear();
    m_nPos = 0;
    if (part >= m_pFile->GetPartCount()) {
        m_nRemaining = 0;
        return false;
    }
    m_nPart = part;
    m_nRemaining = m_pFile->GetSpan(part).m_nLength;
    return true;
}

const uint8_t* CAppFileReader::NextChunk(uint32_t& length)
{
    length = m_nChunkSize < m_nRemaining ? m_nChunkSize : m_nRemaining;
    if (length == 0)
        return nullptr;
    const uint8_t* chunk = m_pFile->IsVerified() ? m_pFile->PartData(m_nPart, m_nPos, length) : m_Chunk.data();
    if (!m_pFile->IsVerified() && !m_pFile->ReadVerified(m_nPart, m_nPos, length, m_Chunk.data(), m_strFailure))
        chunk = nullptr;
    if (chunk == nullptr) {
        length = 0;
        m_nRemaining = 0;
        return nullptr;
    }
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
