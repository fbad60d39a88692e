#include "images/CSampleImage.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include "images/CImageBuilder.h"
#include "platform/ByteOrder.h"
#include "platform/Utf8Path.h"

namespace SampleImage {

namespace {

// Deterministic filler so that every sample has distinct, non-trivial data.
std::vector<uint8_t> Filler(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<uint8_t>(x >> 11);
    }
    return bytes;
}

void PutText(uint8_t* field, size_t fieldSize, const std::string& text)
{
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), std::min(text.size(), fieldSize - 1));
}

std::string GetText(const uint8_t* field, size_t fieldSize)
{
    size_t length = 0;
    while (length < fieldSize && field[length] != 0)
        ++length;
    return std::string(reinterpret_cast<const char*>(field), length);
}

bool IsRouterType(uint32_t type) { return type <= IMG_CONFIG_FILE; }

CImageBuilder::Part MakePart(const SampleInfo& sample, size_t index, std::vector<uint8_t> data)
{
    CImageBuilder::Part part;
    part.m_Magic = IsRouterType(sample.m_nType) ? PART_MAGIC_HDR0 : PART_MAGIC_WIRELESS;
    part.m_UnlockCode = sample.m_strUnlockCode;
    part.m_nTargetAddress = 0x00100000u + 0x00400000u * static_cast<uint32_t>(index);
    part.m_nBlockSize = 4096;
    part.m_BuildDate = "Dec  1 2026";
    part.m_BuildTime = "10:00:00";
    part.m_PartName = sample.m_strFileName.substr(0, sample.m_strFileName.find('.')) + "-" + std::to_string(index);
    part.m_Data = std::move(data);
    return part;
}

// Splits `total` into `count` parts of uneven lengths (none a multiple of 4 apart from
// chance), so that padding and short last blocks are exercised.
std::vector<uint32_t> SplitLengths(uint32_t total, uint32_t count)
{
    std::vector<uint32_t> lengths(count, total / count);
    for (uint32_t i = 0; i + 1 < count; ++i) {
        uint32_t trim = std::min<uint32_t>(lengths[i] / 8, 1021u * (i + 1));
        lengths[i] -= trim;
    }
    uint32_t used = 0;
    for (uint32_t i = 0; i + 1 < count; ++i)
        used += lengths[i];
    lengths[count - 1] = total - used;
    return lengths;
}

} // namespace

std::vector<uint8_t> MakeRouterData(uint32_t kindBits, const std::string& version, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> data(ROUTER_CONTAINER_SIZE, 0);
    std::memcpy(data.data(), ROUTER_CONTAINER_MAGIC, sizeof ROUTER_CONTAINER_MAGIC);
    WriteLe32(data.data() + 4, static_cast<uint32_t>(ROUTER_CONTAINER_SIZE));
    WriteLe32(data.data() + 8, static_cast<uint32_t>(payload.size()));
    WriteLe32(data.data() + ROUTER_KIND_BITS_OFFSET, kindBits);
    PutText(data.data() + ROUTER_CONTAINER_VERSION_OFFSET, ROUTER_CONTAINER_VERSION_SIZE, version);
    data.insert(data.end(), payload.begin(), payload.end());
    return data;
}

std::vector<uint8_t> MakeWirelessData(const std::string& version, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> data(WIRELESS_MARKER_SIZE, 0);
    std::memcpy(data.data(), WIRELESS_MARKER_MAGIC, sizeof WIRELESS_MARKER_MAGIC);
    PutText(data.data() + WIRELESS_MARKER_VERSION_OFFSET, WIRELESS_MARKER_VERSION_SIZE, version);
    data.insert(data.end(), payload.begin(), payload.end());
    return data;
}

bool ReadRouterSampleVersion(const uint8_t* data, size_t size, std::string& version)
{
    if (data == nullptr || size < ROUTER_CONTAINER_SIZE ||
        std::memcmp(data, ROUTER_CONTAINER_MAGIC, sizeof ROUTER_CONTAINER_MAGIC) != 0)
        return false;
    version = GetText(data + ROUTER_CONTAINER_VERSION_OFFSET, ROUTER_CONTAINER_VERSION_SIZE);
    return true;
}

bool ReadWirelessSampleVersion(const uint8_t* data, size_t size, std::string& version)
{
    if (data == nullptr || size < WIRELESS_MARKER_SIZE ||
        std::memcmp(data, WIRELESS_MARKER_MAGIC, sizeof WIRELESS_MARKER_MAGIC) != 0)
        return false;
    version = GetText(data + WIRELESS_MARKER_VERSION_OFFSET, WIRELESS_MARKER_VERSION_SIZE);
    return true;
}

const std::vector<SampleInfo>& GetSampleCatalogue()
{
    // Router versions within one family share their first two numbers with what the
    // virtual router reports by default, so a check accepts them; the dashboard is never
    // compared.
    static const std::vector<SampleInfo> CATALOGUE = {
        {"a", "boot.bin", IMG_BOOT, "1.0.6.2", "BOOTA001", 1},
        {"a", "app.bin", IMG_APP, "2.1.7.1", "APPA0001", 1},
        {"a", "customization.bin", IMG_CUSTOMIZATION, "2.1.7.3", "CUSTA001", 1},
        {"a", "firmware.bin", IMG_FIRMWARE, "11.608.13.02.00", "FWA00001", 5},
        {"a", "dashboard_ZQPX.bin", IMG_DASHBOARD, "16.200.11.01.00", "DASHA001", 2},
        {"b", "common_html.bin", IMG_COMMON_HTML, "3.2.5.1", "HTMLB001", 1},
        {"b", "special_html.bin", IMG_SPECIAL_HTML, "3.2.5.2", "SPECB001", 1},
        {"b", "app.bin", IMG_APP_B, "3.2.5.0", "APPB0001", 1},
        {"b", "config.bin", IMG_CONFIG_FILE, "3.2.5.3", "CONFB001", 1},
        {"b", "firmware.bin", IMG_FIRMWARE, "11.608.13.02.00", "FWB00001", 5},
        {"b", "dashboard.bin", IMG_DASHBOARD, "16.200.11.01.00", "DASHB001", 2},
    };
    return CATALOGUE;
}

bool BuildSample(const SampleInfo& sample, uint32_t firmwareSize, std::vector<uint8_t>& image, std::string& error)
{
    const uint32_t seed = static_cast<uint32_t>(std::hash<std::string>()(sample.m_strUnlockCode));
    CImageBuilder builder;
    builder.SetVersion(sample.m_strVersion);
    if (IsRouterType(sample.m_nType)) {
        builder.SetFileType(FILE_TYPE_ROUTER);
        std::vector<uint8_t> payload = Filler(20000 + 1237 * sample.m_nType, seed);
        builder.AddPart(
            MakePart(sample, 0, MakeRouterData(RouterKindBits(sample.m_nType), sample.m_strVersion, payload)));
    } else if (sample.m_nType == IMG_FIRMWARE) {
        if (firmwareSize < 1024) {
            error = "firmware size must be at least 1024 bytes";
            return false;
        }
        builder.SetFileType(FILE_TYPE_FIRMWARE);
        std::vector<uint32_t> lengths = SplitLengths(firmwareSize, sample.m_nPartCount);
        for (size_t i = 0; i < lengths.size(); ++i) {
            std::vector<uint8_t> data = Filler(lengths[i], seed + static_cast<uint32_t>(i));
            if (i == 0)
                data = MakeWirelessData(sample.m_strVersion,
                                        std::vector<uint8_t>(data.begin() + WIRELESS_MARKER_SIZE, data.end()));
            builder.AddPart(MakePart(sample, i, std::move(data)));
        }
    } else if (sample.m_nType == IMG_DASHBOARD) {
        // A dashboard named with "ZQPX" uses the unstated file type word 0 and is recognised
        // by its two parts and its name; the other one states type 3.
        bool byName = sample.m_strFileName.find("ZQPX") != std::string::npos;
        builder.SetFileType(byName ? FILE_TYPE_WIRELESS_UNSTATED : FILE_TYPE_DASHBOARD);
        builder.AddPart(MakePart(sample, 0, MakeWirelessData(sample.m_strVersion, Filler(300001, seed))));
        builder.AddPart(MakePart(sample, 1, Filler(120003, seed + 1)));
    } else {
        error = "no sample for image type " + std::to_string(sample.m_nType);
        return false;
    }
    return builder.Build(image, error);
}

bool WriteSamples(const std::string& dir, uint32_t firmwareSize, std::string& error)
{
    for (const SampleInfo& sample : GetSampleCatalogue()) {
        std::filesystem::path folder = PathFromUtf8(dir) / sample.m_strFamily;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            error = Utf8FromPath(folder) + ": " + ec.message();
            return false;
        }
        std::vector<uint8_t> image;
        if (!BuildSample(sample, firmwareSize, image, error))
            return false;
        std::string path = Utf8FromPath(folder / sample.m_strFileName);
        if (!CImageBuilder::WriteBytes(path, image, error))
            return false;
    }
    return true;
}

} // namespace SampleImage
