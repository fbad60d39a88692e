// ScopedEnv on Windows: _wputenv_s changes the C runtime's copies and the process environment
// that Windows calls read (an empty value removes the variable). Names and values go through
// UTF-16, so that a value outside the ANSI code page (a path) arrives whole.
#include "tests/support/ScopedEnv.h"

#include <cstdlib>

#include "platform/WideText.h"

namespace kivtest {

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value) : m_strName(name)
{
    const std::wstring wideName = WideFromUtf8(name);
    if (const wchar_t* old = _wgetenv(wideName.c_str()))
        m_Saved = Utf8FromWide(old);
    _wputenv_s(wideName.c_str(), value ? WideFromUtf8(*value).c_str() : L"");
}

ScopedEnv::~ScopedEnv() { _wputenv_s(WideFromUtf8(m_strName).c_str(), m_Saved ? WideFromUtf8(*m_Saved).c_str() : L""); }

} // namespace kivtest
