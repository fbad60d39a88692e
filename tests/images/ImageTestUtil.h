#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "images/CImageBuilder.h"

// A scratch directory removed at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return m_strPath; }
    std::string File(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed = 1);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A wireless image with one part per entry of `lengths`.
std::vector<uint8_t> WirelessImage(uint32_t fileType, const std::vector<size_t>& lengths,
    uint32_t blockSize = 4096, const std::string& version = "1.2.3.4");
// A router image of one part whose data carry `kindBits` at offset 12.
std::vector<uint8_t> RouterImage(uint32_t kindBits, size_t length = 5000);
