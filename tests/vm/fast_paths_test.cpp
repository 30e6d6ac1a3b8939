// The loop's fast paths (the fused code, and the library's arithmetic
// worked out in the loop) against the plain loop that runs one command a step
// through the library: every observable alike (status, report, text, RAM,
// steps, calls, deepest stack, heap in use, the profile), plain, under
// --check and under --profile, on programs stopped at seeded steps: the
// generated Jack programs, raw VM runs that move the registers and SP to
// the edges, and hand-written edge cases.
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

    enum class mode
    {
        plain,
        checked,
        profiled
    };

    struct observed
    {
        run_status status;
        std::string report, text;
        std::vector<int16_t> ram;
        uint64_t steps, calls;
        int deepest, heap;
        std::vector<std::pair<int, uint64_t>> profile; // (function, self steps) per node
        std::vector<uint64_t> calls_by_function;
    };

    observed run(const std::vector<source_file> &files, bool fast, mode how, uint64_t step_limit)
    {
        load_options load;
        load.inline_arithmetic = fast;
        load.fuse = fast;
        const vm_runner::program p = load_program(files, load);
        run_options options;
        options.step_limit = step_limit;
        run_instruments instruments;
        instruments.profile = how == mode::profiled;
        machine m(p, options, how == mode::checked ? heap_checks::on : heap_checks::off, instruments);
        const run_status status = m.run();
        observed o{status,   m.report(), m.text(),         std::vector<int16_t>(m.memory(), m.memory() + ram_size),
                   m.steps(), m.calls(), m.deepest_stack(), m.heap_in_use(), {}, m.calls_by_function()};
        for (const profile_node &node : m.profile())
            o.profile.push_back({node.function, node.self_steps});
        return o;
    }

    void expect_alike(const std::vector<source_file> &files, uint64_t step_limit, const std::string &what)
    {
        for (mode how : {mode::plain, mode::checked, mode::profiled})
        {
            const std::string where = what + ", mode " + std::to_string(static_cast<int>(how));
            const observed fast = run(files, true, how, step_limit), plain = run(files, false, how, step_limit);
            EXPECT_EQ(fast.status, plain.status) << where;
            EXPECT_EQ(fast.report, plain.report) << where;
            EXPECT_EQ(fast.text, plain.text) << where;
            EXPECT_TRUE(fast.ram == plain.ram) << where;
            EXPECT_EQ(fast.steps, plain.steps) << where;
            EXPECT_EQ(fast.calls, plain.calls) << where;
            EXPECT_EQ(fast.deepest, plain.deepest) << where;
            EXPECT_EQ(fast.heap, plain.heap) << where;
            EXPECT_TRUE(fast.profile == plain.profile) << where;
            EXPECT_TRUE(fast.calls_by_function == plain.calls_by_function) << where;
        }
    }

    // The steps a run stops at: its end, seeded points within it, and a few
    // early ones.
    std::vector<uint64_t> limits_of(const std::vector<source_file> &files, std::mt19937_64 &rng, uint64_t most)
    {
        const uint64_t all = run(files, false, mode::plain, most).steps;
        return {all, rng() % (all + 1), rng() % (all + 1), uint64_t(1) + rng() % 50};
    }

    TEST(FastPaths, AsThePlainLoopOnGeneratedPrograms)
    {
        std::mt19937_64 rng(20261209);
        for (unsigned seed = 600; seed < 630; ++seed)
        {
            char name[] = "/tmp/vm_fast_XXXXXX";
            ASSERT_NE(mkdtemp(name), nullptr);
            for (const auto &[file, text] : test_support::random_program(seed))
                std::ofstream(std::string(name) + "/" + file) << text;
            ASSERT_EQ(run_process({test_support::program("jackc"), "-w", name}).exit_code, 0);
            std::vector<source_file> files;
            for (const auto &entry : fs::directory_iterator(name))
                if (entry.path().extension() == ".vm")
                    files.push_back({entry.path().string(), read_text(entry.path().string())});
            for (uint64_t limit : limits_of(files, rng, 2000000))
                expect_alike(files, limit, "seed " + std::to_string(seed) + ", " + std::to_string(limit) + " steps");
            fs::remove_all(name);
        }
    }

    // Raw VM code in the runs the fused code stands for, with this, that and
    // SP set to values at the edges of the RAM, the stack and the registers,
    // so that the runs meet every fault and every alias of a word a plain
    // command meets.
    std::string raw_program(std::mt19937_64 &rng)
    {
        const char *const pushes[] = {"push constant 7", "push constant 0", "push local 0", "push local 1",
                                      "push argument 0", "push argument 1", "push this 0",   "push this 2",
                                      "push that 0",     "push that 1",     "push temp 3",   "push static 0",
                                      "push pointer 0",  "push pointer 1",  "push local 9"};
        const char *const pops[] = {"pop local 0",  "pop local 1",  "pop argument 1", "pop this 1", "pop that 0",
                                    "pop that 2",   "pop temp 3",   "pop static 0",   "pop pointer 0",
                                    "pop pointer 1"};
        const char *const binaries[] = {"add", "sub", "eq", "gt", "lt", "and", "or"};
        const char *const arithmetic[] = {"call Math.multiply 2", "call Math.divide 2", "call Math.min 2",
                                          "call Math.max 2"};
        const int edges[] = {0, 1, 2, 3, 4, 5, 255, 256, 257, 2046, 2047, 2048, 2049, 16383, 16384, 24575, 24576, 24577, 24578};
        auto pick = [&](const auto &list) { return std::string(list[rng() % (sizeof list / sizeof list[0])]); };
        std::string main = "function Main.main 2\nlabel L0\n", helper = "function Main.f 1\npush argument 0\npop pointer 0\nlabel L0\n";
        for (std::string *body : {&main, &helper})
        {
            std::string &b = *body;
            for (int i = 0; i < 60; ++i)
            {
                switch (rng() % 10)
                {
                case 0:  // an edge into this, that, or SP through that 0
                    b += "push constant " + std::to_string(edges[rng() % (sizeof edges / sizeof edges[0])]) + "\n";
                    b += rng() % 3 == 0 ? "pop that 0\n" : std::string("pop pointer ") + (rng() % 2 ? "1" : "0") + "\n";
                    break;
                case 1: b += pick(pushes) + "\n" + pick(pops) + "\n"; break;
                case 2: b += pick(pushes) + "\n" + pick(pushes) + "\n" + pick(binaries) + "\n" + pick(pops) + "\n"; break;
                case 3:
                    b += pick(pushes) + "\n" + pick(pushes) + "\n" + pick(binaries) + "\n" + (rng() % 2 ? "not\n" : "") +
                         "if-goto L" + std::to_string(rng() % 4) + "\n";
                    break;
                case 4: b += pick(pushes) + "\n" + pick(binaries) + "\n"; break;
                case 5: b += pick(pushes) + "\n" + pick(pushes) + "\n"; break;
                case 6: b += pick(pushes) + "\n" + pick(pushes) + "\ncall Main.f 2\n"; break;
                case 7: b += pick(pushes) + "\n" + pick(pushes) + "\n" + pick(arithmetic) + "\n"; break;
                case 8: b += pick(pushes) + "\nreturn\n"; break;
                default:  // a pop that no push fuses with, of an edge less one
                    b += "push constant " + std::to_string(edges[rng() % (sizeof edges / sizeof edges[0])]) +
                         "\nneg\nnot\n" + (rng() % 2 ? pick(pops) : std::string("pop pointer ") + (rng() % 2 ? "1" : "0")) +
                         "\n";
                    break;
                }
            }
            for (int l = 1; l < 4; ++l)
                b += "label L" + std::to_string(l) + "\n";
            b += "push constant 0\nreturn\n";
        }
        return main + helper;
    }

    TEST(FastPaths, AsThePlainLoopOnRawRunsAtTheEdges)
    {
        std::mt19937_64 rng(29);
        for (int program = 0; program < 200; ++program)
        {
            const std::vector<source_file> files = {{"Main.vm", raw_program(rng)}};
            for (uint64_t limit : limits_of(files, rng, 20000))
                expect_alike(files, limit, "raw program " + std::to_string(program) + ", " + std::to_string(limit) +
                                               " steps:\n" + files[0].text);
            if (testing::Test::HasFailure())
                return;
        }
    }

    TEST(FastPaths, AsThePlainLoopAtTheEdges)
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
            // A fused run whose second push reads the word the first wrote,
            // and one that writes LCL through that.
            "push constant 0;pop pointer 1;push constant 0;pop temp 0;push pointer 0;push that 0;add;pop static 3",
            "push constant 1;pop pointer 1;push constant 300;push constant 2;add;pop that 0;push local 0;pop static 4",
            // Calls of a method at the stack's end, with locals that would pass it.
            "push constant 2040;pop that 0;push constant 1;push constant 2;call Main.deep 2",
        };
        for (const char *commands : cases)
        {
            const std::vector<source_file> files = {
                {"Main.vm", vmrun_test::main_of(commands) + "function Main.deep 6\npush argument 0\npop pointer 0\npush local 5\nreturn\n"}};
            for (uint64_t limit : {uint64_t(1000000), uint64_t(3), uint64_t(7)})
                expect_alike(files, limit, commands);
        }
    }

    // The square root against the plain count upward, for every argument.
    TEST(FastPaths, SquareRootAsCountingUp)
    {
        const program p = load_program({{"Main.vm", vmrun_test::main_of("")}});
        machine m(p, run_options{});
        for (int a = 0; a <= 32767; ++a)
        {
            const int16_t argument = static_cast<int16_t>(a);
            int y = 0;
            while ((y + 1) * (y + 1) <= a)
                ++y;
            ASSERT_EQ(library::Math_sqrt(m, &argument), y) << a;
        }
    }
}
