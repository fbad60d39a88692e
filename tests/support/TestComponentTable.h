#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/ComponentEntry.h"
#include "images/CSampleImage.h"

namespace kivtest {

// A component table of its own, filled with images held in memory.
class TestComponentTable {
public:
    // Loads the sample of each listed type (family a for 0-2 and 7-8, family b for 3-6) and
    // marks it for upgrade.
    bool Load(std::initializer_list<int> types, uint32_t firmwareSize = 64 * 1024);
    bool Load(const std::vector<int>& types, uint32_t firmwareSize = 64 * 1024);
    // Puts `bytes` as the image of entry `type`, marked for upgrade.
    bool Use(int type, std::vector<uint8_t> bytes, const std::string& path = "/samples/image.bin");

    // The bytes of entry `type`'s image (empty when there is none).
    const std::vector<uint8_t>& Bytes(int type) const;

    ComponentEntry* Get() { return m_Table; }
    ComponentEntry& operator[](int index) { return m_Table[index]; }

private:
    static const SampleImage::SampleInfo* Find(int type);

    std::vector<std::unique_ptr<std::vector<uint8_t>>> m_Storage;
    std::map<int, const std::vector<uint8_t>*> m_Bytes;
    ComponentEntry m_Table[COMPONENT_COUNT];
};

} // namespace kivtest
