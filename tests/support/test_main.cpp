// The main of every test binary. The stream settings come from the
// environment, so the caller's settings are removed before any test runs.
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    for (const char *name : {"LUMTOOLS_IOBUFFER_OUTPUT", "LUMTOOLS_IOBUFFER_TRACES",
                             "LUMTOOLS_IOBUFFER_ERRORS", "LUMTOOLS_IOBUFFER_LOGS"})
        unsetenv(name);
    // Death tests run their statement in a fresh copy of the binary, so the
    // process-wide tables and stacks start empty in each.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
