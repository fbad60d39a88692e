#pragma once

#include <optional>
#include <string>

namespace kivtest {

// The variable that names the user's temporary directory: TMPDIR on POSIX, TMP on Windows
// (the first that GetTempPathW reads).
#ifdef _WIN32
constexpr const char* TEMP_DIRECTORY_VARIABLE = "TMP";
#else
constexpr const char* TEMP_DIRECTORY_VARIABLE = "TMPDIR";
#endif

// Sets (or, with no value, removes) an environment variable of the test process for a scope
// and puts the one before back at its end. For code that reads the environment in the test
// process itself (TMPDIR, XDG_RUNTIME_DIR); a child process gets its changes through
// Process::Env instead.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_strName;
    std::optional<std::string> m_Saved;
};

} // namespace kivtest
