#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/Utf8Path.h"

namespace kivtest {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ReadRequiredFile(const std::string& path)
{
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        ADD_FAILURE() << path << " cannot be read: it was never written";
        return std::string();
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

bool FlipByte(const std::string& path, size_t offset, uint8_t mask)
{
    std::fstream file(PathFromUtf8(path), std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    char c = 0;
    file.get(c);
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(static_cast<char>(c ^ mask));
    return static_cast<bool>(file);
}

int CountOf(const std::string& text, const std::string& what)
{
    if (what.empty())
        return 0;
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

std::string NativePath(std::string path)
{
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

} // namespace kivtest
