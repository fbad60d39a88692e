// Feeds arbitrary bytes to the version resource reader as the program's version resource:
// the fixed information, the translation, and the lookups the window makes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CModuleVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CModuleVersion version;
    version.LoadVersionData(data, size);
    (void)version.GetFixedInfo().dwFileVersionMS;
    for (const char* name : {"ProductVersion", "FileVersion", "CompanyName", ""})
        (void)version.GetValue(name);

    const std::vector<uint8_t> bytes(data, data + size);
    for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo", "\\\\x\\\\",
                             "\\StringFileInfo\\040904b0\\ProductVersion"}) {
        size_t offset = 0;
        size_t length = 0;
        bool isText = false;
        if (QueryVersionValue(bytes, path, offset, length, isText) && length > 0) {
            // What the lookup hands back lies inside the bytes.
            volatile uint8_t first = bytes.at(offset);
            volatile uint8_t last = bytes.at(offset + length - 1);
            (void)first;
            (void)last;
        }
    }
    return 0;
}
