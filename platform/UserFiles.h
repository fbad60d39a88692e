#pragma once

#include <string>

#include "platform/UniqueFd.h"

// The user's temporary directory (TMPDIR, else /tmp), always ending with '/'.
// Empty when no usable directory can be formed.
std::string GetTempDirectory();

// Opens `path` without following a symbolic link at its last component. With `create`,
// a missing file is made with mode 0600. The descriptor is handed back only when the file
// is a regular file owned by the current user; otherwise it is invalid and errno tells why
// (ELOOP for a link, EPERM for another owner, EINVAL for a non-regular file).
UniqueFd OpenUserFile(const std::string& path, int flags, bool create);

// Writes all `size` bytes to `fd`, retrying short writes and EINTR. Returns the number of
// bytes written; less than `size` means an error, with errno set.
size_t WriteAll(int fd, const void* data, size_t size);
