#include "net/INetPort.h"

namespace {

enum Kind : uint64_t { KIND_SYSTEM = 0, KIND_WAIT = 1, KIND_GENERIC = 2 };

} // namespace

std::error_code INetPort::LastError() const
{
    const uint64_t word = m_LastError.load();
    const int value = static_cast<int>(static_cast<uint32_t>(word));
    switch (word >> 32) {
    case KIND_WAIT: return {value, WaitCategory()};
    case KIND_GENERIC: return {value, std::generic_category()};
    default: return {value, std::system_category()};
    }
}

void INetPort::SetLastError(std::error_code error)
{
    uint64_t kind = KIND_SYSTEM;
    if (error.category() == WaitCategory())
        kind = KIND_WAIT;
    else if (error.category() == std::generic_category())
        kind = KIND_GENERIC;
    m_LastError = kind << 32 | static_cast<uint32_t>(error.value());
}
