#include "tests/support/Strict.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kivtest {

bool StrictTests()
{
    const char* value = std::getenv("KIV_TEST_STRICT");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

bool ProgramExists(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

} // namespace kivtest
