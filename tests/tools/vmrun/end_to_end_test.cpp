// The whole tool-chain end to end: a Jack program compiled by jackc with and
// without folding, then run by vmrun, prints the same text, draws the same
// screen and ends with the same status; and the folded program never takes
// more steps. Compiled with -g, or run from source, it does all of that in
// exactly the same steps. For the bundled example and for a few hundred
// generated programs.
#include "tests/support/process.h"
#include "tests/support/random_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using test_support::program;
using test_support::run_process;

namespace
{
    namespace fs = std::filesystem;

    struct run_outcome
    {
        int status;
        std::string out;
        std::string screen;
        long steps;
    };

    std::string read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    run_outcome run_vmrun(std::vector<std::string> argv, const std::string &dir)
    {
        std::vector<std::string> all = {program("vmrun"), "--stats", "--steps", "1000000000", "--screen",
                                        dir + "/screen.png"};
        all.insert(all.end(), argv.begin(), argv.end());
        const auto ran = run_process(all);
        run_outcome o{ran.exit_code, ran.out, read(dir + "/screen.png"), -1};
        const size_t at = ran.err.find("steps: ");
        if (at != std::string::npos)
            o.steps = std::atol(ran.err.c_str() + at + 7);
        EXPECT_EQ(ran.err.find("vmrun: "), std::string::npos) << ran.err;
        fs::remove(dir + "/screen.png");
        return o;
    }

    void expect_same(const run_outcome &a, const run_outcome &b, const std::string &what)
    {
        EXPECT_EQ(a.status, b.status) << what;
        EXPECT_EQ(a.out, b.out) << what;
        EXPECT_TRUE(a.screen == b.screen) << what;
        EXPECT_EQ(a.steps, b.steps) << what;
    }

    // Compiles the classes into a folder of their own and runs them three
    // ways, which must agree in every observable: the .vm files jackc
    // writes, those jackc -g writes, and the classes run from source.
    run_outcome compile_and_run(const std::vector<std::pair<std::string, std::string>> &classes, bool fold)
    {
        char name[] = "/tmp/vmrun_e2e_XXXXXX";
        if (mkdtemp(name) == nullptr)
            std::abort();
        const std::string dir = name;
        std::vector<std::string> vm_files;
        for (const auto &[file, text] : classes)
        {
            std::ofstream(dir + "/" + file, std::ios::binary) << text;
            vm_files.push_back(dir + "/" + file.substr(0, file.size() - 5) + ".vm");
        }
        std::vector<std::string> no_fold;
        if (!fold)
            no_fold.push_back("--no-fold");
        run_outcome plain, marked;
        for (bool g : {false, true})
        {
            std::vector<std::string> jackc = {program("jackc"), "-w"};
            jackc.insert(jackc.end(), no_fold.begin(), no_fold.end());
            if (g)
                jackc.push_back("-g");
            jackc.push_back(dir);
            const auto compiled = run_process(jackc);
            EXPECT_EQ(compiled.exit_code, 0) << compiled.err;
            (g ? marked : plain) = run_vmrun(vm_files, dir);
        }
        no_fold.push_back(dir);
        const run_outcome from_source = run_vmrun(no_fold, dir);
        expect_same(plain, marked, "jackc -g");
        expect_same(plain, from_source, "run from source");
        fs::remove_all(dir);
        return plain;
    }

    // Returns the steps folding saved.
    long same_either_way(const std::vector<std::pair<std::string, std::string>> &classes, const std::string &what)
    {
        const run_outcome folded = compile_and_run(classes, true);
        const run_outcome plain = compile_and_run(classes, false);
        EXPECT_EQ(folded.status, 0) << what;
        EXPECT_EQ(folded.status, plain.status) << what;
        EXPECT_EQ(folded.out, plain.out) << what;
        EXPECT_TRUE(folded.screen == plain.screen) << what;
        EXPECT_GT(folded.steps, 0) << what;
        EXPECT_LE(folded.steps, plain.steps) << what;
        return plain.steps - folded.steps;
    }

    TEST(EndToEnd, BundledExample)
    {
        std::vector<std::pair<std::string, std::string>> classes;
        for (const char *name : {"Fixed.jack", "Main.jack", "Mandelbrot.jack", "Tally.jack"})
            classes.push_back({name, test_support::source_file(std::string("examples/mandelbrot/") + name)});
        const long saved = same_either_way(classes, "examples/mandelbrot");
        // The figure the README gives.
        EXPECT_EQ(saved, 3875694);
    }

    // The bundled game, driven by its key script: a whole game, scored 2,
    // and the end; the same steps and text every time.
    TEST(EndToEnd, BundledGame)
    {
        char name[] = "/tmp/vmrun_snake_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        const std::string dir = name;
        for (const char *file : {"Game.jack", "Main.jack", "Random.jack", "Snake.jack"})
            std::ofstream(dir + "/" + file, std::ios::binary)
                << test_support::source_file(std::string("examples/snake/") + file);
        const auto compiled = run_process({program("jackc"), dir});
        ASSERT_EQ(compiled.exit_code, 0) << compiled.err;
        const auto ran = run_process({program("vmrun"), "--stats", "--keys",
                                      std::string(JACK_SOURCE_DIR) + "/examples/snake/demo.keys", dir});
        fs::remove_all(dir);
        EXPECT_EQ(ran.exit_code, 0) << ran.err;
        EXPECT_EQ(ran.out, "score 0\nSNAKE: press a key to start" + std::string(27, ' ') +
                               "score 1\nscore 2\ngame over, score 2 (Enter: again, Escape: end)\n"
                               "Thanks for playing.\n");
        EXPECT_EQ(ran.err.substr(0, ran.err.find('\n')), "steps: 410127");
    }

    class Generated : public testing::TestWithParam<unsigned>
    {
    };

    // Seeds in blocks of 50, so that the blocks run side by side.
    TEST_P(Generated, SameEitherWay)
    {
        for (unsigned seed = GetParam(); seed < GetParam() + 50; ++seed)
            same_either_way(test_support::random_program(seed), "seed " + std::to_string(seed));
    }

    INSTANTIATE_TEST_SUITE_P(Seeds, Generated, testing::Values(0u, 50u, 100u, 150u, 200u, 250u));
}
