#pragma once

#include <string>

#include "platform/CUniqueFd.h"

// Name of the per-user directory below the system's temporary directory, followed by the
// user id: "/tmp/kivupgrade-1000".
constexpr const char* USER_TEMP_PREFIX = "kivupgrade-";

// The user's temporary directory, always ending with '/'. $TMPDIR when it is set (it must be
// a directory); otherwise a directory of the user's own below the system's temporary
// directory (USER_TEMP_PREFIX + uid), made with mode 0700 on first use. An existing one is
// used only when it is a real directory (not a link) owned by the user; wider permissions
// are narrowed to 0700. Empty when no usable directory can be formed; `why` then holds a
// sentence saying why. On Windows: the user's own temporary directory from GetTempPathW,
// ending with a backslash, when it is a directory (platform/UserFilesWin32.cpp says what of the
// rest applies there).
std::string GetTempDirectory(std::string* why = nullptr);

#ifndef _WIN32
// The per-user directory below `base` (USER_TEMP_PREFIX + uid), ending with '/', made or
// checked as GetTempDirectory does; empty with `why` set when it cannot be used.
std::string UserTempDirectoryBelow(const std::string& base, std::string* why = nullptr);
#endif

// Opens `path` without following a symbolic link at its last component and without ever
// blocking (a FIFO or a device in its place is opened non-blocking and then refused). With
// `create`, a missing file is made with mode 0600. O_TRUNC in `flags` is applied only after
// the checks, so a file of another user is never truncated. The descriptor is handed back
// only when the file is a regular file owned by the current user with no other name;
// otherwise it is invalid and errno tells why (ELOOP for a link, EPERM for another owner,
// EINVAL for a file that is not regular, EMLINK for a file with more than one hard link).
CUniqueFd OpenUserFile(const std::string& path, int flags, bool create);

// A sentence for a failed OpenUserFile: "<path> is a symbolic link", "... belongs to another
// user", "... is not a regular file", "... has more than one name (a hard link)", else
// "<path>: <system text>".
std::string DescribeOpenError(const std::string& path, int error);

// Writes all `size` bytes to `fd`, retrying short writes and EINTR. Returns the number of
// bytes written; less than `size` means an error, with errno set.
size_t WriteAll(int fd, const void* data, size_t size);

// Appends `line` and a newline to the user file `path` (created when missing, with the
// checks of OpenUserFile) in one write. False with `why` set when it could not.
bool AppendLineToUserFile(const std::string& path, const std::string& line, std::string& why);
