// Math.multiply and Math.divide worked out in the loop against the same
// calls through the library: every observable alike (status, report, text,
// RAM, steps, calls, deepest stack), on the generated programs stopped at
// seeded steps and on hand-written edge cases.
#include "tests/support/process.h"
#include "tests/support/random_program.h"
#include "tests/vm/vm_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

using test_support::run_process;

namespace
{
    namespace fs = std::filesystem;
    using namespace vm_runner;

    struct observed
    {
        run_status status;
        std::string report, text;
        std::vector<int16_t> ram;
        uint64_t steps, calls;
        int deepest;
    };

    observed run(const std::vector<source_file> &files, bool inline_arithmetic, uint64_t step_limit)
    {
        load_options load;
        load.inline_arithmetic = inline_arithmetic;
        const vm_runner::program p = load_program(files, load);
        run_options options;
        options.step_limit = step_limit;
        machine m(p, options);
        const run_status status = m.run();
        return {status, m.report(), m.text(), std::vector<int16_t>(m.memory(), m.memory() + ram_size),
                m.steps(), m.calls(), m.deepest_stack()};
    }

    void expect_alike(const std::vector<source_file> &files, uint64_t step_limit, const std::string &what)
    {
        const observed fast = run(files, true, step_limit), plain = run(files, false, step_limit);
        EXPECT_EQ(fast.status, plain.status) << what;
        EXPECT_EQ(fast.report, plain.report) << what;
        EXPECT_EQ(fast.text, plain.text) << what;
        EXPECT_TRUE(fast.ram == plain.ram) << what;
        EXPECT_EQ(fast.steps, plain.steps) << what;
        EXPECT_EQ(fast.calls, plain.calls) << what;
        EXPECT_EQ(fast.deepest, plain.deepest) << what;
    }

    TEST(InlineArithmetic, AsTheLibraryOnGeneratedPrograms)
    {
        std::mt19937_64 rng(20261209);
        for (unsigned seed = 600; seed < 630; ++seed)
        {
            char name[] = "/tmp/vm_inline_XXXXXX";
            ASSERT_NE(mkdtemp(name), nullptr);
            for (const auto &[file, text] : test_support::random_program(seed))
                std::ofstream(std::string(name) + "/" + file) << text;
            ASSERT_EQ(run_process({test_support::program("jackc"), "-w", name}).exit_code, 0);
            std::vector<source_file> files;
            for (const auto &entry : fs::directory_iterator(name))
                if (entry.path().extension() == ".vm")
                    files.push_back({entry.path().string(), read_text(entry.path().string())});
            const uint64_t all = run(files, false, UINT64_MAX).steps;
            for (uint64_t limit : {all, rng() % (all + 1), rng() % (all + 1), uint64_t(1) + rng() % 50})
                expect_alike(files, limit, "seed " + std::to_string(seed) + ", " + std::to_string(limit) + " steps");
            fs::remove_all(name);
        }
    }

    TEST(InlineArithmetic, AsTheLibraryAtTheEdges)
    {
        const char *const cases[] = {
            "push constant 32767;push constant 3;call Math.multiply 2;push constant 32767;not;push constant 1;neg;"
            "call Math.divide 2;add;pop static 0",  // wraps, and -32768 / -1
            "push constant 7;push constant 0;call Math.divide 2",  // the library's error 3
            "push constant 7;neg;push constant 2;call Math.divide 2;pop static 0",  // toward zero
            // SP moved by the program: past the stack's end, and at its very top.
            "push constant 2049;pop pointer 0;push constant 0;pop temp 0;push constant 2049;pop static 1;"
            "push constant 0;pop pointer 1;push constant 2049;pop that 0;call Math.multiply 2",
            "push constant 2046;pop that 0;push constant 5;call Math.multiply 2",
            "push constant 1;pop that 0;push constant 3;call Math.divide 2",
        };
        for (const char *commands : cases)
        {
            const std::vector<source_file> files = {{"Main.vm", vmrun_test::main_of(commands)}};
            expect_alike(files, 1000000, commands);
            expect_alike(files, 3, commands);
        }
    }
}
