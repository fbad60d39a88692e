#pragma once

#include <string>

namespace kivtest {

// A fresh directory below the temporary directory (TMPDIR), removed with everything in it
// by the destructor. A directory that cannot be made is a test failure (Path() is empty).
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "kiv-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Path of `name` inside the directory.
    std::string operator/(const std::string& name) const { return m_strPath + "/" + name; }

private:
    std::string m_strPath;
};

} // namespace kivtest
