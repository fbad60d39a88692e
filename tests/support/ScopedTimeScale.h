#pragma once

#include "platform/Clock.h"

namespace kivtest {

// Sets the process's time scale for a scope and puts the one before back at its end.
class ScopedTimeScale {
public:
    explicit ScopedTimeScale(double scale) : m_Saved(GetTimeScale()) { SetTimeScale(scale); }
    ~ScopedTimeScale() { SetTimeScale(m_Saved); }
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

private:
    double m_Saved;
};

} // namespace kivtest
