#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The running program's own file and, on Windows, the resources compiled into it.

// Full path of the running program's file (UTF-8); empty when the system does not say.
std::string GetProgramPath();

#ifdef _WIN32
// The version resource (VS_VERSIONINFO) of a module of this process, read from its file as
// GetFileVersionInfo gives it. The module is found by name among those loaded; the program's
// own file name, with or without ".exe", and an empty name stand for the program. False when
// there is no such module, its file name is longer than 260 characters, or it has no
// version resource.
bool ReadModuleVersionResource(const std::string& moduleName, std::vector<uint8_t>& data);

// Resource `id` of `type` (a resource type name such as "BINARY") compiled into the program:
// its bytes in the program image, read-only and valid for the life of the process. False when
// the program has no such resource.
bool FindProgramResource(uint32_t id, const char* type, const uint8_t*& data, size_t& size);
#endif
