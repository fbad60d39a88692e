#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include "platform/UserFiles.h"

namespace kivtest {

TempDir::TempDir(const std::string& prefix)
{
    std::string pattern = GetTempDirectory() + prefix + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary directory " << pattern;
        return;
    }
    m_strPath = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!m_strPath.empty())
        std::filesystem::remove_all(m_strPath, ec);
}

} // namespace kivtest
