#include "app/WindowTitle.h"

#include <cstdint>

#include "app/CModuleVersion.h"
#include "platform/TextCodec.h"
#include "res/Resources.h"

namespace {
constexpr uint32_t IDR_TITLE = 150;
} // namespace

std::string ComposeWindowTitle(const std::string& resourceTitle, const CModuleVersion* version)
{
    std::string title = resourceTitle;
    if (version != nullptr)
        title += " - " + version->GetValue("ProductVersion");
    return title + " - Press F1 for Help";
}

std::string BuildWindowTitle(const std::string& moduleName)
{
    std::string resourceTitle;
    if (const auto bytes = LoadResourceBytes(IDR_TITLE, "STRING"))
        resourceTitle = Utf16LeToUtf8(bytes->data, bytes->size);
    CModuleVersion version;
    const bool readable = version.GetFileVersionInfo(moduleName);
    return ComposeWindowTitle(resourceTitle, readable ? &version : nullptr);
}
