// Resources on Windows: real Win32 resources that windres compiled into the program from the
// resource script the build generates (res/WindowsResources.cmake), the title included.
#include "res/Resources.h"

#include "platform/ProgramFile.h"

std::optional<ResourceBytes> LoadResourceBytes(uint32_t id, const char* type)
{
    if (type == nullptr)
        return std::nullopt;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!FindProgramResource(id, type, data, size) || data == nullptr || size <= 1)
        return std::nullopt;
    return ResourceBytes{data, size};
}
