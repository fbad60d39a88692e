// The version resource of a module on Windows: the VS_VERSIONINFO that windres compiled into
// the program (res/), read back from the module's file with GetFileVersionInfo.
#include "app/CModuleVersion.h"

#include "platform/ProgramFile.h"

bool CModuleVersion::GetFileVersionInfo(const std::string& moduleName)
{
    m_wCodePage = 1252;
    m_FixedInfo = FixedFileInfo{};
    std::vector<uint8_t> data;
    if (!ReadModuleVersionResource(moduleName, data))
        return false;
    return LoadVersionData(data.data(), data.size());
}
