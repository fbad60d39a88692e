// TempDir on Windows: a fresh directory below the user's temporary directory (there is no
// mkdtemp; a random name is tried until one is new).
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/UserFiles.h"
#include "platform/Utf8Path.h"

namespace kivtest {

TempDir::TempDir(const std::string& prefix)
{
    static constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<size_t> pick(0, sizeof LETTERS - 2);
    const std::string base = GetTempDirectory() + prefix + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = base;
        for (int i = 0; i < 6; ++i)
            name.push_back(LETTERS[pick(random)]);
        std::error_code ec;
        if (std::filesystem::create_directory(PathFromUtf8(name), ec) && !ec) {
            m_strPath = name;
            return;
        }
    }
    ADD_FAILURE() << "cannot make a temporary directory " << base << "XXXXXX";
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!m_strPath.empty())
        std::filesystem::remove_all(PathFromUtf8(m_strPath), ec);
}

} // namespace kivtest
