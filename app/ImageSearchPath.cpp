#include "app/ImageSearchPath.h"

#include <filesystem>
#include <system_error>

#include "platform/ProgramFile.h"
#include "platform/Utf8Path.h"

std::string WithTrailingSeparator(std::string dir)
{
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    if (!dir.empty() && dir.back() != '/' && dir.back() != separator)
        dir += separator;
    return dir;
}

std::string ProgramDirectory()
{
    const std::string exe = GetProgramPath();
    if (exe.empty())
        return std::string();
    return WithTrailingSeparator(Utf8FromPath(PathFromUtf8(exe).parent_path()));
}

std::vector<std::string> ImageSearchDirectories(const std::string& programDir)
{
    std::vector<std::string> dirs;
    if (programDir.empty())
        return dirs;
    const std::filesystem::path own = PathFromUtf8(programDir).lexically_normal();
    // "/usr/bin/" normalises to "/usr/bin/" (an empty last name): look at the parent's.
    const std::filesystem::path bin = own.has_filename() ? own : own.parent_path();
    const bool hasPrefix = bin.has_parent_path() && bin.parent_path() != bin;
    const std::filesystem::path data = (bin.parent_path() / INSTALLED_IMAGE_SUBDIR).lexically_normal();
    std::error_code ec;
    if (hasPrefix && std::filesystem::is_directory(data, ec))
        return {WithTrailingSeparator(Utf8FromPath(data))}; // installed: never the program's own directory
    dirs.push_back(WithTrailingSeparator(programDir));
    if (hasPrefix && bin.filename() == "bin")
        dirs.push_back(WithTrailingSeparator(Utf8FromPath(data)));
    return dirs;
}
