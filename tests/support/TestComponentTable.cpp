#include "tests/support/TestComponentTable.h"

namespace kivtest {

bool TestComponentTable::Load(std::initializer_list<int> types, uint32_t firmwareSize)
{
    return Load(std::vector<int>(types), firmwareSize);
}

bool TestComponentTable::Load(const std::vector<int>& types, uint32_t firmwareSize)
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

bool TestComponentTable::Use(int type, std::vector<uint8_t> bytes, const std::string& path)
{
    m_Storage.push_back(std::make_unique<std::vector<uint8_t>>(std::move(bytes)));
    const auto& stored = *m_Storage.back();
    m_Bytes[type] = &stored;
    ComponentEntry& entry = m_Table[type];
    if (!entry.m_Image.OpenMemory(stored.data(), stored.size(), static_cast<uint32_t>(type), true, path))
        return false;
    entry.m_UpgradeFlag = 1;
    return static_cast<int>(entry.m_Image.GetType()) == type;
}

const std::vector<uint8_t>& TestComponentTable::Bytes(int type) const
{
    static const std::vector<uint8_t> NONE;
    const auto found = m_Bytes.find(type);
    return found == m_Bytes.end() ? NONE : *found->second;
}

const SampleImage::SampleInfo* TestComponentTable::Find(int type)
{
    const char* family = (type >= 3 && type <= 6) ? "b" : "a";
    for (const auto& info : SampleImage::GetSampleCatalogue()) {
        if (static_cast<int>(info.m_nType) == type && info.m_strFamily == family)
            return &info;
    }
    return nullptr;
}

} // namespace kivtest
