#pragma once

#include <string>
#include <vector>

// Where "*.bin" images are looked for when the program carries none.
//
// The program's own directory comes first. An installed program (one whose directory is
// named "bin", as in /usr/bin or the bin/ of an unpacked tarball) then also looks in the
// installation's image directory, <prefix>/share/kivupgrade/images, so that a package can
// carry images without putting them beside the programs.

// The image directory below an installation prefix (the package installs images there).
constexpr const char* INSTALLED_IMAGE_SUBDIR = "share/kivupgrade/images";

// Directory of the running program, with a trailing '/'; empty when unknown.
std::string ProgramDirectory();

// The directories to search, in order, each with a trailing '/', for a program that lives
// in `programDir`. Empty for an empty `programDir`.
std::vector<std::string> ImageSearchDirectories(const std::string& programDir);
