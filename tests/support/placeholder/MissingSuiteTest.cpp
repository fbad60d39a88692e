// Stands for a test suite this build could not make (kiv_add_missing_suite): it skips with
// the reason, or fails under KIV_TEST_STRICT=1, so a missing suite never passes unseen.
#include "tests/support/Strict.h"

TEST(MissingSuite, NotBuilt)
{
    KIV_SKIP_OR_FAIL(std::string("the suite ") + KIV_MISSING_SUITE + " was not built: " + KIV_MISSING_REASON);
}
