// ScopedEnv on Windows: _putenv_s changes the C runtime's copy and the process environment
// that Windows calls read (an empty value removes the variable).
#include "tests/support/ScopedEnv.h"

#include <cstdlib>

namespace kivtest {

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : m_strName(name)
{
    if (const char* old = std::getenv(name.c_str()))
        m_Saved = old;
    _putenv_s(name.c_str(), value ? value->c_str() : "");
}

ScopedEnv::~ScopedEnv() { _putenv_s(m_strName.c_str(), m_Saved ? m_Saved->c_str() : ""); }

} // namespace kivtest
