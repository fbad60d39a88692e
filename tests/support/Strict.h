#pragma once

// The skip-or-fail rule. A test that cannot run here (not root, a program not installed, a
// suite not built) skips, and ctest shows the skip; with KIV_TEST_STRICT=1 (scripts/test.sh
// sets it, so CI runs strict) it fails instead, so that a broken set-up cannot pass as
// green. A program that is present but does not start or work is a failure always: that is
// an ordinary assertion, never a skip.

#include <gtest/gtest.h>

#include <string>

namespace kivtest {

// True when KIV_TEST_STRICT is "1".
bool StrictTests();

// True when `path` is a file this process may execute.
bool ProgramExists(const std::string& path);

} // namespace kivtest

// Skips the current test saying `why`, or fails it under KIV_TEST_STRICT=1. Returns from the
// calling function: use it in a test body or in SetUp().
#define KIV_SKIP_OR_FAIL(why)                                                              \
    do {                                                                                   \
        if (::kivtest::StrictTests())                                                      \
            GTEST_FAIL() << (why) << " (KIV_TEST_STRICT=1: this test may not be skipped)"; \
        else                                                                               \
            GTEST_SKIP() << (why);                                                         \
    } while (0)

// Skips (or fails, under KIV_TEST_STRICT=1) unless `path` is an executable program.
#define KIV_REQUIRE_PROGRAM(path)                                                     \
    do {                                                                              \
        const std::string kivRequiredProgram_ = (path);                               \
        if (!::kivtest::ProgramExists(kivRequiredProgram_))                           \
            KIV_SKIP_OR_FAIL(kivRequiredProgram_ + " is not built or not installed"); \
    } while (0)
