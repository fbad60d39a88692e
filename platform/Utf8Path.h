#pragma once

#include <filesystem>
#include <string>

// std::filesystem paths from and to the UTF-8 text the code keeps. A path made from a plain
// std::string takes the ANSI code page on Windows, and .string() gives it back in that code
// page, so every character outside it is lost; these convert through UTF-8 on every
// platform (on POSIX, where paths are bytes, they copy).

inline std::filesystem::path PathFromUtf8(const std::string& text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
