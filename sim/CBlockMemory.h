#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What a download wrote where: every block's bytes by address, so that the written image
// can be told apart from the one the tool meant to write. A block written again at the same
// address replaces the earlier one. Contiguous blocks read back as one extent with a digest
// of its bytes; the digest of an image's parts, put in the same memory, compares directly.
class CBlockMemory {
public:
    // Bytes kept at most; a download beyond it can no longer be verified.
    static constexpr size_t MAX_KEPT_BYTES = 64u * 1024u * 1024u;

    struct Extent {
        uint32_t address = 0;
        uint64_t length = 0;
        std::string digest; // Digest() of the extent's bytes
        bool operator==(const Extent& other) const = default;
    };

    void Clear();
    void Write(uint32_t address, const uint8_t* data, size_t length);

    // Runs of contiguous bytes in address order. Empty when nothing was written, or when the
    // memory could not follow the writes (more than MAX_KEPT_BYTES, or blocks that overlap
    // without starting at the same address).
    std::vector<Extent> Extents() const;
    bool IsVerifiable() const { return !m_bUnverifiable; }
    size_t KeptBytes() const { return m_nKept; }

    // 64-bit FNV-1a of the bytes, as 16 hexadecimal digits.
    static std::string Digest(const uint8_t* data, size_t length);
    // Continues a digest over more bytes (start from DIGEST_START).
    static constexpr uint64_t DIGEST_START = 0xCBF29CE484222325ull;
    static uint64_t DigestMore(uint64_t state, const uint8_t* data, size_t length);
    static std::string DigestText(uint64_t state);

private:
    std::map<uint32_t, std::vector<uint8_t>> m_Blocks;
    size_t m_nKept = 0;
    bool m_bUnverifiable = false;
};
