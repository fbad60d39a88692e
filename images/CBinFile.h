#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "images/PartHeader.h"
#include "platform/CReadOnlyFile.h"
#include "platform/NonCopyable.h"

// One upgrade image: the file header, its parts and their data. A file is read once, whole,
// into memory the object owns, checked there and used from there: nothing is read from
// the disk after Open, so what is sent is exactly what was checked, whatever happens to the
// file meanwhile. A memory image (the program's resource bytes) is used in place. Open
// checks every rule of the container format before anything it says is used: an image
// that breaks one is refused without reading outside its bytes, and no allocation follows
// from a header's numbers.
class CBinFile : public NonCopyable {
public:
    CBinFile() = default;
    ~CBinFile() override;

    void SetPath(const std::string& path) { m_strPath = path; }
    const std::string& GetPath() const { return m_strPath; }

    // A file larger than this is no image of ours and is refused before it is read.
    static constexpr size_t MAX_FILE_SIZE = 256u * 1024u * 1024u;

    // Reads the file at the path into memory of its own and verifies it there (every
    // checksum). True at once when the image is already valid.
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
    // Size of the image in bytes (of the file when it was read).
    size_t GetSize() const { return m_nSize; }
    // True when every block checksum was verified at open (files, and memory images opened
    // with verification): the bytes a part holds can be used as they are.
    bool IsVerified() const { return m_bVerified; }
    // The `length` bytes of part `part`'s data from `offset`, in place; null when the range
    // lies outside the part.
    const uint8_t* PartData(size_t part, uint32_t offset, uint32_t length) const;

    // Copies `length` bytes from `offset` of part `part`'s data into `out`, unchecked (for
    // inspection tools). False when the range lies outside the part.
    bool ReadPartData(size_t part, uint32_t offset, uint32_t length, uint8_t* out) const;
    // The same for data about to be sent from an image whose checksums were not verified
    // at open (an embedded one): every block the range touches must match its checksum.
    // False with the reason in `failure` ("part 1 block 3: checksum mismatch").
    bool ReadVerified(size_t part, uint32_t offset, uint32_t length, uint8_t* out, std::string& failure) const;

    // Empty when not valid; "No version" when the header holds none; else the version text.
    std::string GetVersion() const;
    // File type word at offset 0 (0 when there is no image).
    uint32_t GetFileType() const { return m_nFileType; }

    // The first rule the last Open broke, for developer tools ("part 2: header checksum
    // mismatch", "part 0 block 17: checksum mismatch"); empty after a success.
    const std::string& GetFailure() const { return m_strFailure; }

    // Why the upgrade does not use this valid image, empty when it does: a router image
    // is sent as its part 0 alone, so one with more parts would announce bytes it never
    // sends ("router images must have exactly one part").
    std::string GetUnusableReason() const;

    // Type of an image from the magic of part 0, the file type word and the expected type.
    // `kindBits` is the word at offset 12 of part 0 data (router images only);
    // `partCount` and `path` serve the dashboard rule of wireless images.
    static uint32_t Classify(const std::array<uint8_t, 4>& magic, uint32_t fileType, uint32_t expectedType,
                             uint32_t kindBits, size_t partCount, const std::string& path);
    // The rule for router images alone: type from the kind bits and the expected type.
    static uint32_t ClassifyRouter(uint32_t kindBits, uint32_t expectedType);
    // Path rule for files: longer than 7 characters, not beginning with two backslashes.
    static bool IsUsablePath(const std::string& path);

private:
    bool ParseAll(bool verifyChecksums);
    // Parses every part, classifies the image and marks it valid; closes it on failure.
    bool ParseAndClassify(bool verifyChecksums, uint32_t expectedType);
    bool ParsePart(size_t index, uint64_t& pos, bool verifyChecksums);
    bool VerifyBlocks(size_t index, uint64_t pos, const PartHeader& header);
    // Reads the opened file whole into m_Owned; false with the reason recorded.
    bool ReadWholeFile(const CReadOnlyFile& file);
    uint32_t ClassifyOpened(uint32_t expectedType) const;
    bool Fail(std::string text);
    // Entry `block` of part `part`'s checksum table, read from the image bytes.
    uint16_t TableEntry(size_t part, uint64_t block) const;

    std::vector<PartHeader> m_Headers;
    std::vector<DataSpan> m_Spans;
    std::string m_strPath;
    uint32_t m_nResourceId = 0;
    bool m_bValid = false;
    const uint8_t* m_pData = nullptr; // the image bytes: m_Owned for a file, else the caller's
    uint32_t m_nType = IMG_NONE;

    size_t m_nSize = 0;
    std::unique_ptr<uint8_t[]> m_Owned; // a file's bytes, read at open
    bool m_bVerified = false;
    std::array<uint8_t, FILE_VERSION_SIZE> m_VersionField{};
    uint32_t m_nFileType = 0;
    std::string m_strFailure;
};
