#include "res/Resources.h"

#include <array>
#include <cstring>

#include "platform/ByteOrder.h"
#include "res/ResourceTable.h"

namespace {

// Window title, resource 150 of type "STRING": zero-terminated UTF-16LE.
template <size_t N>
constexpr std::array<uint8_t, 2 * N> Utf16LeBytes(const char16_t (&text)[N])
{
    std::array<uint8_t, 2 * N> bytes{};
    for (size_t i = 0; i < N; ++i)
        WriteLe16(bytes.data() + 2 * i, static_cast<uint16_t>(text[i]));
    return bytes;
}

constexpr auto TITLE = Utf16LeBytes(u"Q350m Upgrade");

std::optional<ResourceBytes> Usable(const uint8_t* data, size_t size)
{
    if (data == nullptr || size <= 1)
        return std::nullopt;
    return ResourceBytes{data, size};
}

} // namespace

std::optional<ResourceBytes> LoadResourceBytes(uint32_t id, const char* type)
{
    if (type == nullptr)
        return std::nullopt;
    if (id == 150 && std::strcmp(type, "STRING") == 0)
        return Usable(TITLE.data(), TITLE.size());
    for (size_t i = 0; i < GENERATED_RESOURCE_COUNT; ++i) {
        const ResourceEntry& entry = GENERATED_RESOURCES[i];
        if (entry.id == id && std::strcmp(entry.type, type) == 0)
            return Usable(entry.begin, static_cast<size_t>(entry.end - entry.begin));
    }
    return std::nullopt;
}
