#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/ComponentEntry.h"
#include "images/CImageBuilder.h"
#include "images/CSampleImage.h"

// A component table of its own, filled with sample images held in memory.
class TestComponentTable {
public:
    // Loads the sample of each listed type (family a for 0-2 and 7-8, family b for 3-6) and
    // marks it for upgrade.
    bool Load(std::initializer_list<int> types, uint32_t firmwareSize = 64 * 1024)
    {
        for (int type : types) {
            const SampleImage::SampleInfo* info = Find(type);
            if (info == nullptr)
                return false;
            std::vector<uint8_t> bytes;
            std::string error;
            if (!SampleImage::BuildSample(*info, firmwareSize, bytes, error))
                return false;
            if (!Use(type, std::move(bytes), "/samples/" + info->m_strFamily + "/" + info->m_strFileName))
                return false;
        }
        return true;
    }

    // Puts `bytes` as the image of entry `type`, marked for upgrade.
    bool Use(int type, std::vector<uint8_t> bytes, const std::string& path = "/samples/image.bin")
    {
        m_Storage.push_back(std::make_unique<std::vector<uint8_t>>(std::move(bytes)));
        const auto& stored = *m_Storage.back();
        ComponentEntry& entry = m_Table[type];
        if (!entry.m_Image.OpenMemory(stored.data(), stored.size(), static_cast<uint32_t>(type), true, path))
            return false;
        entry.m_UpgradeFlag = 1;
        return static_cast<int>(entry.m_Image.GetType()) == type;
    }

    ComponentEntry* Get() { return m_Table; }
    ComponentEntry& operator[](int index) { return m_Table[index]; }

private:
    static const SampleImage::SampleInfo* Find(int type)
    {
        const char* family = (type >= 3 && type <= 6) ? "b" : "a";
        for (const auto& info : SampleImage::GetSampleCatalogue()) {
            if (static_cast<int>(info.m_nType) == type && info.m_strFamily == family)
                return &info;
        }
        return nullptr;
    }

    std::vector<std::unique_ptr<std::vector<uint8_t>>> m_Storage;
    ComponentEntry m_Table[COMPONENT_COUNT];
};

// A wireless image with the given part lengths, unlock code and target addresses.
inline std::vector<uint8_t> MakeWirelessImage(uint32_t fileType, const std::vector<uint32_t>& lengths,
    uint32_t address, uint8_t fill)
{
    CImageBuilder builder;
    builder.SetFileType(fileType);
    builder.SetVersion("9.9.9.9");
    for (uint32_t length : lengths) {
        CImageBuilder::Part part;
        part.m_UnlockCode = "UNLOCK01";
        part.m_nTargetAddress = address;
        part.m_Data.assign(length, fill);
        builder.AddPart(std::move(part));
        address += length;
    }
    std::vector<uint8_t> image;
    std::string error;
    builder.Build(image, error);
    return image;
}

// A router-module image of `type` (0..6) whose part 0 carries `payloadSize` bytes after the
// sample container header.
inline std::vector<uint8_t> MakeRouterImage(uint32_t type, uint32_t payloadSize)
{
    CImageBuilder builder;
    builder.SetFileType(FILE_TYPE_ROUTER);
    builder.SetVersion("9.9.9.9");
    CImageBuilder::Part part;
    part.m_Magic = PART_MAGIC_HDR0;
    part.m_UnlockCode = "ROUTER01";
    part.m_nTargetAddress = 0x00100000;
    std::vector<uint8_t> payload(payloadSize);
    for (uint32_t i = 0; i < payloadSize; ++i)
        payload[i] = static_cast<uint8_t>(i * 131u + (i >> 9));
    part.m_Data = SampleImage::MakeRouterData(SampleImage::RouterKindBits(type), "9.9.9.9", payload);
    builder.AddPart(std::move(part));
    std::vector<uint8_t> image;
    std::string error;
    builder.Build(image, error);
    return image;
}
