#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/RouterKindBits.h"

// Sample images for demonstrations and tests, and the small headers they carry in the data
// of part 0 (layouts in docs/image-format.md):
//
// Router sample container (router-module images, HDR0), 64 bytes at data offset 0:
//   0  4   magic "KVRC"
//   4  4   header size, 64
//   8  4   length of the data that follow the header
//   12 4   kind bits (wire/RouterKindBits.h)
//   16 32  version text, zero-terminated, zero-padded
//   48 16  zero
//
// Wireless version marker (wireless-module images), 72 bytes at data offset 0:
//   0  8   magic "KIVWVER1"
//   8  64  version text, zero-terminated, zero-padded
// The virtual router reads it after a complete download to learn the new version.

namespace SampleImage {

constexpr size_t ROUTER_CONTAINER_SIZE = 64;
constexpr size_t ROUTER_CONTAINER_VERSION_OFFSET = 16;
constexpr size_t ROUTER_CONTAINER_VERSION_SIZE = 32;
constexpr size_t WIRELESS_MARKER_SIZE = 72;
constexpr size_t WIRELESS_MARKER_VERSION_OFFSET = 8;
constexpr size_t WIRELESS_MARKER_VERSION_SIZE = 64;
constexpr char ROUTER_CONTAINER_MAGIC[4] = {'K', 'V', 'R', 'C'};
constexpr char WIRELESS_MARKER_MAGIC[8] = {'K', 'I', 'V', 'W', 'V', 'E', 'R', '1'};

// Default firmware size of the samples: about 16 MB in 5 parts.
constexpr uint32_t DEFAULT_FIRMWARE_SIZE = 16u * 1024u * 1024u;

// The 64-byte container header followed by `payload`.
std::vector<uint8_t> MakeRouterData(uint32_t kindBits, const std::string& version, const std::vector<uint8_t>& payload);
// The 72-byte version marker followed by `payload`.
std::vector<uint8_t> MakeWirelessData(const std::string& version, const std::vector<uint8_t>& payload);

// Version text of a router sample container at the start of `data` (part 0 data).
bool ReadRouterSampleVersion(const uint8_t* data, size_t size, std::string& version);
// Version text of a wireless version marker at the start of `data` (part 0 data).
bool ReadWirelessSampleVersion(const uint8_t* data, size_t size, std::string& version);

// One sample of the set written by WriteSamples.
struct SampleInfo {
    std::string m_strFamily;   // "a" or "b": the sub-directory
    std::string m_strFileName; // e.g. "boot.bin"
    uint32_t m_nType;          // image type code
    std::string m_strVersion;
    std::string m_strUnlockCode; // 8 characters
    uint32_t m_nPartCount;
};

// The sample set: family a (BOOT, APP, Customization, Firmware, Dashboard) and family b
// (Common Html Resource, Special Html Code, APP, Configuration File, Firmware, Dashboard).
const std::vector<SampleInfo>& GetSampleCatalogue();

// Builds the image bytes of one sample; `firmwareSize` is the total data length of the
// 5-part firmware image (at least 5 bytes).
bool BuildSample(const SampleInfo& sample, uint32_t firmwareSize, std::vector<uint8_t>& image, std::string& error);

// Writes the whole set under `dir` (DIR/a/..., DIR/b/...), creating the directories.
bool WriteSamples(const std::string& dir, uint32_t firmwareSize, std::string& error);

} // namespace SampleImage
