#pragma once

#include <cstdint>
#include <string>

// The component type an image file's headers name, read without checking anything else:
// the file header, part 0's header and, for a router image, its kind bits. IMG_NONE when
// the file is shorter than the two headers, cannot be read, or part 0 does not begin with
// one of the two magics of the container format: not an image of ours at all.
//
// Used only to tell which component a damaged image was meant for, so that the check can
// fail in that component's row instead of calling it "Not found". A damaged image's part
// count is not trusted: a wireless image of unstated kind counts as the dashboard when its
// path holds "ZQPX" (the other half of that rule, exactly two parts, is not checked).
uint32_t ImageTypeNamedByHeaders(const std::string& path);
