#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "images/CBinFile.h"
#include "platform/NonCopyable.h"

// Hands out one part of an opened image in consecutive chunks of a fixed size. A chunk of an
// image verified at open is a pointer into the image's own bytes (which nothing changes
// after the check); a chunk of an embedded image, whose checksums were not verified at
// open, is copied into the reader's buffer once every block it touches has matched its
// checksum. The image must stay open while the reader is used; a chunk pointer stays valid
// until the next NextChunk.
class CAppFileReader : public NonCopyable {
public:
    CAppFileReader(const CBinFile& file, uint32_t chunkSize);
    ~CAppFileReader() override = default;

    // Selects part `part` and rewinds to its first byte. False for a part that does not
    // exist (the reader then hands out nothing).
    bool SelectPart(size_t part);
    // Next chunk of the selected part and its length; length 0 (and nullptr) once the part
    // is used up, or when the chunk failed its check (GetFailure then says why, and the
    // reader hands out nothing more until the next SelectPart).
    const uint8_t* NextChunk(uint32_t& length);
    // ceiling(data length of part / chunk size); 0 for a part that does not exist.
    uint32_t GetChunkCount(size_t part) const;
    const PartHeader& GetHeader(size_t part) const { return m_pFile->GetHeader(part); }
    uint32_t GetChunkSize() const { return m_nChunkSize; }
    const CBinFile& GetFile() const { return *m_pFile; }
    uint32_t GetRemaining() const { return m_nRemaining; }
    // Why the last chunk was refused ("part 0 block 2: checksum mismatch"); empty when
    // none was.
    const std::string& GetFailure() const { return m_strFailure; }

private:
    const CBinFile* m_pFile;
    uint32_t m_nChunkSize;
    size_t m_nPart = 0;
    uint32_t m_nPos = 0; // offset of the next chunk inside the selected part's data
    uint32_t m_nRemaining = 0;
    std::vector<uint8_t> m_Chunk;
    std::string m_strFailure;
};
