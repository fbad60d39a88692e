#pragma once

#include <string>
#include <vector>

// Where "*.bin" images are looked for when the program carries none.
//
// An installed program (the Debian package, an unpacked tarball) is one whose directory has
// the installation's image directory beside it: <prefix>/bin with
// <prefix>/share/kivupgrade/images. It looks there only, never in its own directory: a
// system directory such as /usr/bin holds files of every other package, and any "*.bin"
// among them must neither be scanned nor replace the packaged images.
//
// Any other program (a build folder) looks in its own directory first; one whose directory
// is named "bin" then also looks in <prefix>/share/kivupgrade/images, should it appear later.

// The image directory below an installation prefix (the package installs images there).
constexpr const char* INSTALLED_IMAGE_SUBDIR = "share/kivupgrade/images";

// `dir` ending with a separator: as it is when it ends with '/' (or, on Windows, '\\'), else
// with the system's own appended. An empty `dir` stays empty.
std::string WithTrailingSeparator(std::string dir);

// Directory of the running program, ending with a separator; empty when unknown.
std::string ProgramDirectory();

// The directories to search, in order, each ending with a separator, for a program that lives
// in `programDir`. Empty for an empty `programDir`.
std::vector<std::string> ImageSearchDirectories(const std::string& programDir);
