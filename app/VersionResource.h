#pragma once

#include <cstddef>
#include <cstdint>

// The program's own version resource, generated at build time from the project version.
const uint8_t* KivVersionResourceData();
size_t KivVersionResourceSize();
