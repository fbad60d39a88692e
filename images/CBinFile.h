#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "images/PartHeader.h"
#include "platform/CFileMapping.h"
#include "platform/NonCopyable.h"

// One upgrade image: the file header, its parts and their data, kept in place (a read-only
// file mapping or the program's resource bytes, never copied). Open checks every rule of
// the container format; an image that breaks one is refused without reading outside its
// bytes.
class CBinFile : public NonCopyable {
public:
    CBinFile() = default;
    ~CBinFile() override;

    void SetPath(const std::string& path) { m_strPath = path; }
    const std::string& GetPath() const { return m_strPath; }

    // Opens and verifies the file at the path (every checksum). True at once when the
    // image is already valid.
    bool Open(uint32_t expectedType);
    // Opens embedded image `id` (resource type "BINARY"); checksums are not verified.
    bool OpenResource(uint32_t id);
    // Parses image bytes owned by the caller, which must outlive this object or the next
    // Close. Used by tools and tests; `path` takes part in the dashboard rule only.
    bool OpenMemory(const uint8_t* data, size_t size, uint32_t expectedType, bool verifyChecksums,
        const std::string& path = std::string());
    void Close();

    bool IsValid() const { return m_bValid; }
    uint32_t GetType() const { return m_nType; }
    uint32_t GetResourceId() const { return m_nResourceId; }
    size_t GetPartCount() const { return m_Headers.size(); }
    uint32_t GetTotalLength() const;
    const PartHeader& GetHeader(size_t part) const { return m_Headers.at(part); }
    const DataSpan& GetSpan(size_t part) const { return m_Spans.at(part); }
    const uint8_t* GetData() const { return m_pData; }
    size_t GetSize() const { return m_nSize; }
    // Part `part`'s data bytes (nullptr when there is no such part).
    const uint8_t* GetPartData(size_t part) const;

    // Empty when not valid; "No version" when the header holds none; else the version text.
    std::string GetVersion() const;
    // File type word at offset 0 (0 when there is no image).
    uint32_t GetFileType() const;

    // The first rule the last Open broke, for developer tools ("part 2: header checksum
    // mismatch", "part 0 block 17: checksum mismatch"); empty after a success.
    const std::string& GetFailure() const { return m_strFailure; }

    // Type of an image from the magic of part 0, the file type word and the expected type.
    // `kindBits` is the word at offset 12 of part 0 data (router images only);
    // `partCount` and `path` serve the dashboard rule of wireless images.
    static uint32_t Classify(const std::array<uint8_t, 4>& magic, uint32_t fileType,
        uint32_t expectedType, uint32_t kindBits, size_t partCount, const std::string& path);
    // The rule for router images alone: type from the kind bits and the expected type.
    static uint32_t ClassifyRouter(uint32_t kindBits, uint32_t expectedType);
    // Path rule for files: longer than 7 characters, not beginning with two backslashes.
    static bool IsUsablePath(const std::string& path);

private:
    bool ParseAll(bool verifyChecksums);
    // Parses every part, classifies the image and marks it valid; closes it on failure.
    bool ParseAndClassify(bool verifyChecksums, uint32_t expectedType);
    bool ParsePart(size_t index, size_t& pos, bool verifyChecksums);
    uint32_t ClassifyOpened(uint32_t expectedType) const;
    bool Fail(std::string text);

    std::vector<PartHeader> m_Headers;
    std::vector<DataSpan> m_Spans;
    std::string m_strPath;
    uint32_t m_nResourceId = 0;
    bool m_bValid = false;
    const uint8_t* m_pData = nullptr;
    uint32_t m_nType = IMG_NONE;

    size_t m_nSize = 0;
    CFileMapping m_Mapping;
    std::string m_strFailure;
};
