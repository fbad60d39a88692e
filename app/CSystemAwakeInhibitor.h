#pragma once

#include <string>

#include "app/ISleepInhibitor.h"

// Windows: the upgrade worker's thread execution state asks for the system to stay awake
// (continuous "system required") while an upgrade writes to the router, and Release clears
// it. The request belongs to the thread that made it, which is why the controller takes and
// gives back the inhibitor on the upgrade worker; should the worker end still holding it,
// Windows drops it with the thread.
class CSystemAwakeInhibitor : public ISleepInhibitor {
public:
    CSystemAwakeInhibitor() = default;
    ~CSystemAwakeInhibitor() override;
    CSystemAwakeInhibitor(const CSystemAwakeInhibitor&) = delete;
    CSystemAwakeInhibitor& operator=(const CSystemAwakeInhibitor&) = delete;

    bool Acquire(std::string& why) override;
    void Release() override;

private:
    bool m_bHeld = false;
};
