#include "win/CHelpCommand.h"

#include <shellapi.h>

#include "platform/UserFiles.h"
#include "platform/WideText.h"
#include "res/Resources.h"

namespace {
constexpr uint32_t IDR_HELP_CHM = 152;

// Writes every byte, in pieces small enough for one WriteFile each.
bool WriteAllBytes(HANDLE file, const uint8_t* data, size_t size)
{
    constexpr size_t PIECE = 1 << 20;
    while (size > 0) {
        const DWORD wanted = static_cast<DWORD>(size < PIECE ? size : PIECE);
        DWORD written = 0;
        if (!WriteFile(file, data, wanted, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}
} // namespace

std::wstring CHelpCommand::Prepare(const std::wstring& directory, const uint8_t* data, size_t size)
{
    if (directory.empty())
        return std::wstring();
    const std::wstring path = directory + FILE_NAME;
    if (path.size() >= MAX_PATH)
        return std::wstring();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A file already there is used as it is; a directory or a link in its place is not.
        const DWORD unusable = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
        return (attributes & unusable) == 0 ? path : std::wstring();
    }
    if (data == nullptr || size == 0)
        return std::wstring();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::wstring();
    const bool written = WriteAllBytes(file, data, size);
    const bool closed = CloseHandle(file) != FALSE;
    if (!written || !closed) {
        // A short file would be reused by every later F1: it goes.
        DeleteFileW(path.c_str());
        return std::wstring();
    }
    return path;
}

CHelpCommand::Outcome CHelpCommand::Run(HWND owner, const Opener& opener)
{
    const auto help = LoadResourceBytes(IDR_HELP_CHM, "CHM");
    const std::wstring path =
        Prepare(WideFromUtf8(GetTempDirectory()), help ? help->data : nullptr, help ? help->size : 0);
    if (path.empty())
        return Outcome::NoFile;
    return opener(owner, path) ? Outcome::Opened : Outcome::OpenFailed;
}

bool CHelpCommand::ShellOpen(HWND owner, const std::wstring& path)
{
    const auto result =
        reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32; // larger than 32 means success
}
