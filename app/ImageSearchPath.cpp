#include "app/ImageSearchPath.h"

#include <filesystem>
#include <system_error>

namespace {

std::string WithTrailingSlash(std::string dir)
{
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}

} // namespace

std::string ProgramDirectory()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::string();
    return WithTrailingSlash(exe.parent_path().string());
}

std::vector<std::string> ImageSearchDirectories(const std::string& programDir)
{
    std::vector<std::string> dirs;
    if (programDir.empty())
        return dirs;
    const std::filesystem::path own = std::filesystem::path(programDir).lexically_normal();
    // "/usr/bin/" normalises to "/usr/bin/" (an empty last name): look at the parent's.
    const std::filesystem::path bin = own.has_filename() ? own : own.parent_path();
    const bool hasPrefix = bin.has_parent_path() && bin.parent_path() != bin;
    const std::filesystem::path data = (bin.parent_path() / INSTALLED_IMAGE_SUBDIR).lexically_normal();
    std::error_code ec;
    if (hasPrefix && std::filesystem::is_directory(data, ec))
        return {WithTrailingSlash(data.string())}; // installed: never the program's own directory
    dirs.push_back(WithTrailingSlash(programDir));
    if (hasPrefix && bin.filename() == "bin")
        dirs.push_back(WithTrailingSlash(data.string()));
    return dirs;
}
