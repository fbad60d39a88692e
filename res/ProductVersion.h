#pragma once

// The product version of the programs ("1.0.0", or the version a release was made with).
// Generated at build time from res/ProductVersionData.cpp.in.
const char* KivProductVersion();
