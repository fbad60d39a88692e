// The skip-or-fail rule on Windows, where a program is a file that exists (there is no
// execute permission to test).
#include "tests/support/Strict.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/Utf8Path.h"

namespace kivtest {

bool StrictTests()
{
    const char* value = std::getenv("KIV_TEST_STRICT");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

bool ProgramExists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(PathFromUtf8(path), ec);
}

} // namespace kivtest
