// The user's state directory on Windows: the local application data folder, which stays on
// this machine (the history names this PC's routers) and which Windows makes private to the
// user. The file is opened as OpenUserFile opens it on Windows: never through a link, never
// a device, never a file with a second name.
#include "platform/UserState.h"

#include <fcntl.h>
#include <shlobj.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/SystemError.h"
#include "platform/UserFiles.h"
#include "platform/WideText.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\..." or a network path "\\server\share\...": a relative value is ignored, as a
// relative XDG_STATE_HOME is on POSIX.
bool IsAbsolute(const std::wstring& path)
{
    if (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]))
        return true;
    return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

std::wstring KnownLocalAppData(std::string* why)
{
    PWSTR folder = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &folder);
    std::wstring path = SUCCEEDED(result) && folder != nullptr ? std::wstring(folder) : std::wstring();
    CoTaskMemFree(folder);
    if (path.empty() && why != nullptr)
        *why = "the local application data folder is unknown: " + SystemErrorText(static_cast<uint32_t>(result));
    return path;
}

bool MakeDirectory(const std::wstring& dir, DWORD& error)
{
    if (CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    error = GetLastError();
    return false;
}

// Makes every missing directory of `dir` (either separator), below its root ("C:\" or
// "\\server\share\"). False with `error` set.
bool MakeDirectories(const std::wstring& dir, DWORD& error)
{
    size_t from = 3;
    if (dir.size() >= 2 && IsSeparator(dir[0]) && IsSeparator(dir[1])) {
        const size_t share = dir.find_first_of(L"\\/", 2);
        from = share == std::wstring::npos ? dir.size() : dir.find_first_of(L"\\/", share + 1);
        from = from == std::wstring::npos ? dir.size() : from + 1;
    }
    for (size_t cut = dir.find_first_of(L"\\/", from); cut != std::wstring::npos;
         cut = dir.find_first_of(L"\\/", cut + 1)) {
        if (!MakeDirectory(dir.substr(0, cut), error))
            return false;
    }
    return MakeDirectory(dir, error);
}

} // namespace

std::string UserStateDirectory(std::string* why)
{
    std::wstring dir = EnvironmentValue(L"LOCALAPPDATA");
    if (!IsAbsolute(dir))
        dir = KnownLocalAppData(why);
    if (dir.empty())
        return std::string();
    if (!IsSeparator(dir.back()))
        dir.push_back(L'\\');
    return Utf8FromWide(dir);
}

bool AppendUserLine(const std::string& path, const std::string& line, std::string& why)
{
    const std::wstring widePath = WideFromUtf8(path);
    const size_t cut = widePath.find_last_of(L"\\/");
    if (cut != std::wstring::npos && cut > 0) {
        DWORD error = 0;
        if (!MakeDirectories(widePath.substr(0, cut), error)) {
            why = Utf8FromWide(widePath.substr(0, cut)) + ": " + SystemErrorText(error);
            return false;
        }
    }
    return AppendLineToUserFile(path, line, why);
}
