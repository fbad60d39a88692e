#include "platform/ProgramFile.h"

#include <windows.h>

#include <cwctype>

#include "platform/WideText.h"

namespace {

constexpr DWORD MAX_PATH_CHARS = 260;

// Full file name of a module, or empty when it does not fit `limit` characters.
std::wstring ModuleFileName(HMODULE module, DWORD limit)
{
    std::wstring name(limit + 1, L'\0');
    const DWORD length = GetModuleFileNameW(module, name.data(), limit + 1);
    if (length == 0 || length > limit)
        return {};
    name.resize(length);
    return name;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}

// True when `name` is the program's own file name, with or without ".exe".
bool NamesTheProgram(const std::wstring& name)
{
    const std::wstring path = ModuleFileName(nullptr, 32767);
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring file = slash == std::wstring::npos ? path : path.substr(slash + 1);
    return !file.empty() && (SameNameIgnoringCase(name, file) || SameNameIgnoringCase(name + L".exe", file));
}

} // namespace

std::string GetProgramPath() { return Utf8FromWide(ModuleFileName(nullptr, 32767)); }

bool ReadModuleVersionResource(const std::string& moduleName, std::vector<uint8_t>& data)
{
    data.clear();
    const std::wstring name = WideFromUtf8(moduleName);
    HMODULE module = nullptr;
    if (!name.empty() && !NamesTheProgram(name)) {
        module = GetModuleHandleW(name.c_str());
        if (module == nullptr)
            return false;
    }
    const std::wstring file = ModuleFileName(module, MAX_PATH_CHARS);
    if (file.empty())
        return false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return false;
    data.resize(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) {
        data.clear();
        return false;
    }
    return true;
}

bool FindProgramResource(uint32_t id, const char* type, const uint8_t*& data, size_t& size)
{
    const std::wstring typeName = WideFromUtf8(type);
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), typeName.c_str());
    if (found == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return false;
    data = static_cast<const uint8_t*>(bytes);
    size = SizeofResource(nullptr, found);
    return true;
}
