// The generator of runnable programs writes Jack that the front end reads:
// every class of a few hundred seeds goes through jack2xml.
#include "tests/support/process.h"
#include "tests/support/random_program.h"

#include <gtest/gtest.h>

using test_support::process_options;
using test_support::program;
using test_support::random_program;
using test_support::run_process;

TEST(RandomProgram, FrontEndReadsEveryClass)
{
    for (unsigned seed = 0; seed < 300; ++seed)
    {
        const auto files = random_program(seed);
        ASSERT_EQ(files.back().first, "Main.jack");
        for (const auto &[name, text] : files)
        {
            process_options options;
            options.input = text;
            const auto r = run_process({program("jack2xml")}, options);
            ASSERT_EQ(r.exit_code, 0) << "seed " << seed << ", " << name << ":\n" << r.err << "\n" << text;
        }
    }
}

TEST(RandomProgram, SameSeedSameProgram)
{
    EXPECT_EQ(random_program(7), random_program(7));
    EXPECT_NE(random_program(7), random_program(8));
}
