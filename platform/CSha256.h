#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4), fed in pieces. The history names every image written by this
// digest, which anyone can compare with "sha256sum FILE".
class CSha256 {
public:
    static constexpr size_t DIGEST_SIZE = 32;

    CSha256();
    void Update(const uint8_t* data, size_t length);
    // The digest of everything fed so far, as 64 lower-case hexadecimal digits. The object
    // is spent afterwards.
    std::string FinalHex();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> m_State;
    std::array<uint8_t, 64> m_Buffer{};
    size_t m_nBuffered = 0;
    uint64_t m_nLength = 0; // bytes fed
};
