#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/NonCopyable.h"

// Read-only mapping of a whole file. The bytes stay valid until Close or destruction.
// An empty file opens successfully with Size() 0 and Data() nullptr.
class CFileMapping : public NonCopyable {
public:
    CFileMapping() = default;
    ~CFileMapping() override;

    // Maps `path` read-only. False (with LastError() set to the errno value) when the file
    // cannot be opened, is not a regular file, or cannot be mapped.
    bool Open(const std::string& path);
    void Close();

    bool IsOpen() const { return m_bOpen; }
    const uint8_t* Data() const { return m_pData; }
    size_t Size() const { return m_nSize; }
    int LastError() const { return m_nError; }

private:
    const uint8_t* m_pData = nullptr;
    size_t m_nSize = 0;
    bool m_bOpen = false;
    int m_nError = 0;
};
