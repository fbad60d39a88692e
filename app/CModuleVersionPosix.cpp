// The version resource of the running program on POSIX: the block generated at build time
// and compiled in (app/VersionResource.h). The program is the one module of the process.
#include "app/CModuleVersion.h"

#include "app/VersionResource.h"
#include "platform/ProgramFile.h"

namespace {
constexpr size_t MAX_PATH = 260;

std::string ProgramBaseName()
{
    const std::string full = GetProgramPath();
    if (full.empty() || full.size() > MAX_PATH)
        return {};
    const size_t slash = full.rfind('/');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}
} // namespace

bool CModuleVersion::GetFileVersionInfo(const std::string& moduleName)
{
    m_wCodePage = 1252;
    m_FixedInfo = FixedFileInfo{};
    const std::string self = ProgramBaseName();
    if (self.empty())
        return false;
    if (!moduleName.empty() && moduleName != self && moduleName != self + ".exe")
        return false;
    return LoadVersionData(KivVersionResourceData(), KivVersionResourceSize());
}
