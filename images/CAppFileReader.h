#pragma once

#include <cstdint>

#include "images/CBinFile.h"
#include "platform/NonCopyable.h"

// Hands out one part of an opened image in consecutive chunks of a fixed size, as pointers
// into the image bytes (no copy). The image must stay open while the reader is used.
class CAppFileReader : public NonCopyable {
public:
    CAppFileReader(const CBinFile& file, uint32_t chunkSize);
    ~CAppFileReader() override = default;

    // Selects part `part` and rewinds to its first byte. False for a part that does not
    // exist (the reader then hands out nothing).
    bool SelectPart(size_t part);
    // Next chunk of the selected part and its length; length 0 (and nullptr) once the
    // part is used up.
    const uint8_t* NextChunk(uint32_t& length);
    // ceiling(data length of part / chunk size); 0 for a part that does not exist.
    uint32_t GetChunkCount(size_t part) const;
    const PartHeader& GetHeader(size_t part) const { return m_pFile->GetHeader(part); }
    uint32_t GetChunkSize() const { return m_nChunkSize; }
    uint32_t GetRemaining() const { return m_nRemaining; }

private:
    const CBinFile* m_pFile;
    uint32_t m_nChunkSize;
    uint32_t m_nPos = 0;
    uint32_t m_nRemaining = 0;
};
