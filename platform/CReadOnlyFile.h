#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/CUniqueFd.h"
#include "platform/NonCopyable.h"

// One regular file opened for reading, read by position. Nothing is mapped: a file that
// another program shortens gives a failed read, never a signal. On Windows the file is
// opened sharing reading only, so while it is open no program can change or shorten it.
class CReadOnlyFile : public NonCopyable {
public:
    // ReadAt's error for a file that ends before the range asked for.
    static constexpr int ERROR_SHORT_FILE = -1;

    CReadOnlyFile() = default;
    ~CReadOnlyFile() override = default;

    // Opens `path`. False (with LastError() set to the errno value) when the file cannot be
    // opened or is not a regular file; a FIFO is refused at once, without waiting for a writer.
    bool Open(const std::string& path);
    void Close();

    bool IsOpen() const { return m_Fd.Valid(); }
    // Size when the file was opened.
    uint64_t Size() const { return m_nSize; }
    int LastError() const { return m_nError; }

    // Reads exactly `length` bytes at `offset` into `out`. Returns 0, an errno value, or
    // ERROR_SHORT_FILE when the file now ends before offset + length.
    int ReadAt(uint64_t offset, void* out, size_t length) const;

    // Text for a ReadAt or LastError value.
    static std::string ErrorText(int error);

private:
    CUniqueFd m_Fd;
    uint64_t m_nSize = 0;
    int m_nError = 0;
};
