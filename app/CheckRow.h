#pragma once

#include <string>

// What a check found out about one row of the list, beyond the texts the row shows.
struct CheckRow {
    int component = 0;          // component index
    bool upToDate = false;      // the current version read equals the image's version
    bool versionRead = false;   // a current version was read (a valid version text)
    std::string versionProblem; // why it was not (empty when it was)
    std::string imageProblem;   // the image found for it is damaged: the first check it failed
};
