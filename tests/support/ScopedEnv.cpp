#include "tests/support/ScopedEnv.h"

#include <cstdlib>

namespace kivtest {

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : m_strName(name)
{
    if (const char* old = std::getenv(name.c_str()))
        m_Saved = old;
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv()
{
    if (m_Saved)
        ::setenv(m_strName.c_str(), m_Saved->c_str(), 1);
    else
        ::unsetenv(m_strName.c_str());
}

} // namespace kivtest
