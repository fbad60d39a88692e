#include "tests/support/Files.h"

#include <fstream>
#include <iterator>

namespace kivtest {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return WriteFile(path, std::string(bytes.begin(), bytes.end()));
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

} // namespace kivtest
