#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The 52-byte fixed part of a version resource, read field by field (little-endian).
struct FixedFileInfo {
    uint32_t dwSignature = 0;
    uint32_t dwStrucVersion = 0;
    uint32_t dwFileVersionMS = 0;
    uint32_t dwFileVersionLS = 0;
    uint32_t dwProductVersionMS = 0;
    uint32_t dwProductVersionLS = 0;
    uint32_t dwFileFlagsMask = 0;
    uint32_t dwFileFlags = 0;
    uint32_t dwFileOS = 0;
    uint32_t dwFileType = 0;
    uint32_t dwFileSubtype = 0;
    uint32_t dwFileDateMS = 0;
    uint32_t dwFileDateLS = 0;
};

// Reads the version resource of the running program: the fixed file information, the
// language and code page of its translation block, and the strings of its string table.
class CModuleVersion {
public:
    static constexpr uint32_t FIXED_SIGNATURE = 0xFEEF04BD;
    static constexpr size_t FIXED_INFO_SIZE = 52;

    CModuleVersion();
    virtual ~CModuleVersion();
    CModuleVersion(const CModuleVersion&) = delete;
    CModuleVersion& operator=(const CModuleVersion&) = delete;

    // Loads the version resource of the named module of this process. The running program
    // is the one module; its name is the program file's base name (a trailing ".exe" is
    // accepted). An empty name means the program itself.
    bool GetFileVersionInfo(const std::string& moduleName);
    // Loads a version resource from bytes, as GetFileVersionInfo does once it has them.
    bool LoadVersionData(const uint8_t* data, size_t size);
    // One string of the string table in the loaded language and code page; empty when it is
    // missing or nothing is loaded.
    std::string GetValue(const std::string& name) const;
    // The block name GetValue asks for.
    std::string ValuePath(const std::string& name) const;

    const FixedFileInfo& GetFixedInfo() const { return m_FixedInfo; }
    uint16_t GetLanguage() const { return m_wLanguage; }
    uint16_t GetCodePage() const { return m_wCodePage; }

private:
    FixedFileInfo m_FixedInfo;
    std::vector<uint8_t> m_VersionData;
    uint16_t m_wLanguage = 0;
    uint16_t m_wCodePage = 0;
};

// Finds a value in a version resource by block path ("\" for the root value,
// "\VarFileInfo\Translation", "\StringFileInfo\040904b0\ProductVersion"). Keys compare
// without regard to ASCII case. `isText` tells whether the value is UTF-16 text.
bool QueryVersionValue(const std::vector<uint8_t>& data, const std::string& path, size_t& valueOffset,
                       size_t& valueSize, bool& isText);
