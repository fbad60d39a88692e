#pragma once

#include <string>

#include "app/VersionInfoWriter.h"

namespace kivtest {

// A version resource's content for tests: file version 2.5, FileVersion "2.5.0.0" and
// ProductVersion "2.5.1" in the string table `table`, with or without the translation block
// (0409/04b0). BuildVersionInfo turns it into the block.
VersionInfoContent SampleVersionInfo(bool translation, const std::string& table = "040904b0");

} // namespace kivtest
