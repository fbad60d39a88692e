#include "net/NetError.h"

namespace {

class CWaitCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "wait"; }
    std::string message(int code) const override
    {
        switch (static_cast<WaitCode>(code)) {
        case WaitCode::TimedOut: return "The wait operation timed out.";
        case WaitCode::Purged: return "The wait was ended by a purge request.";
        case WaitCode::IoCompletion: return "An I/O completion routine was queued.";
        }
        return "Unknown wait code " + std::to_string(code) + ".";
    }
};

} // namespace

const std::error_category& WaitCategory()
{
    static const CWaitCategory category;
    return category;
}

std::error_code make_error_code(WaitCode code) { return {static_cast<int>(code), WaitCategory()}; }
