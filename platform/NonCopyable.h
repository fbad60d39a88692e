#pragma once

// Base class that forbids copying and moving; its only virtual operation is the destructor.
class NonCopyable {
public:
    NonCopyable() = default;
    virtual ~NonCopyable() = default;
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;
};
