#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "images/PartHeader.h"

// Builds an image file of the container format: file header, then every part with its
// header, block checksum table, data and padding. Checksums are computed here.
class CImageBuilder {
public:
    struct Part {
        std::array<uint8_t, 4> m_Magic = PART_MAGIC_WIRELESS;
        std::string m_UnlockCode; // at most 8 bytes, zero-padded
        uint32_t m_nTargetAddress = 0;
        uint32_t m_nBlockSize = 4096;
        uint32_t m_nReserved = 1;
        std::string m_BuildDate; // at most 16 bytes
        std::string m_BuildTime; // at most 16 bytes
        std::string m_PartName;  // at most 32 bytes
        std::vector<uint8_t> m_Data;
    };

    void SetFileType(uint32_t fileType) { m_nFileType = fileType; }
    // Version text (at most 83 bytes are kept, so that it stays zero-terminated).
    void SetVersion(const std::string& version) { m_strVersion = version; }
    void AddPart(Part part) { m_Parts.push_back(std::move(part)); }
    size_t GetPartCount() const { return m_Parts.size(); }

    // The complete image. False when a part has no data, a zero block size, or the image
    // would not fit the 32-bit offsets of the format; `error` then says why.
    bool Build(std::vector<uint8_t>& image, std::string& error) const;
    // Builds and writes the image to `path` (created or replaced).
    bool WriteFile(const std::string& path, std::string& error) const;
    // Writes finished image bytes to `path` (created or replaced, never through a link).
    static bool WriteBytes(const std::string& path, const std::vector<uint8_t>& image, std::string& error);

private:
    uint32_t m_nFileType = FILE_TYPE_FIRMWARE;
    std::string m_strVersion;
    std::vector<Part> m_Parts;
};
