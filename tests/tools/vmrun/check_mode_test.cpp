// --check on the generated programs: a program without a fault runs under it
// exactly as without it, and a fault injected at a seeded place (an index one
// past an array's end, a use after dispose) is caught at the statement that
// made it.
#include "tests/support/process.h"
#include "tests/support/random_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    namespace fs = std::filesystem;

    process_result run_in(const std::vector<std::pair<std::string, std::string>> &classes, bool check,
                          std::string &dir)
    {
        char name[] = "/tmp/vmrun_check_XXXXXX";
        if (mkdtemp(name) == nullptr)
            std::abort();
        dir = name;
        for (const auto &[file, text] : classes)
            std::ofstream(dir + "/" + file, std::ios::binary) << text;
        std::vector<std::string> argv = {program("vmrun"), "--stats", "--steps", "1000000000"};
        if (check)
            argv.push_back("--check");
        argv.push_back(dir);
        process_result r = run_process(argv);
        fs::remove_all(dir);
        return r;
    }

    // The report without the folder's name and the time and speed lines of
    // --stats.
    std::string steady(const std::string &err, const std::string &dir)
    {
        std::istringstream lines(err);
        std::string out, line;
        while (std::getline(lines, line))
            if (line.rfind("time: ", 0) != 0 && line.rfind("steps per second: ", 0) != 0)
            {
                for (size_t at = line.find(dir); at != std::string::npos; at = line.find(dir))
                    line.replace(at, dir.size(), "DIR");
                out += line + "\n";
            }
        return out;
    }

    TEST(CheckMode, CatchesEveryInjectedFaultWhereItIsMade)
    {
        std::mt19937 rng(9122026);
        int caught = 0;
        for (unsigned seed = 300; seed < 340; ++seed)
        {
            SCOPED_TRACE("seed " + std::to_string(seed));
            auto classes = test_support::random_program(seed);
            std::string dir, checked_dir;
            const process_result plain = run_in(classes, false, dir);
            const process_result checked = run_in(classes, true, checked_dir);
            ASSERT_EQ(plain.exit_code, 0) << plain.err;
            EXPECT_EQ(checked.exit_code, 0) << checked.err;
            EXPECT_EQ(checked.out, plain.out);
            EXPECT_EQ(steady(checked.err, checked_dir), steady(plain.err, dir));

            // Main.main's statements of one line at its top level always run.
            std::string &main = classes.back().second;
            std::vector<size_t> starts;
            for (size_t at = main.find("\n        ", main.find("function void main()")); at != std::string::npos;
                 at = main.find("\n        ", at + 1))
                if (main.compare(at + 9, 4, "let ") == 0 || main.compare(at + 9, 3, "do ") == 0)
                    starts.push_back(at + 1);
            ASSERT_FALSE(starts.empty());
            const size_t before = starts[rng() % starts.size()];
            const int words = 1 + static_cast<int>(rng() % 12);
            const bool after_dispose = rng() % 2 == 0;
            const std::string n = std::to_string(words);
            const std::string injected =
                "        let zz = Array.new(" + n + ");\n" +
                (after_dispose ? "        do zz.dispose();\n        let zz[" + std::to_string(rng() % words) + "] = 1;\n"
                               : "        let zz[" + n + "] = 1;\n");
            // The line of the faulty statement: the static's line comes first.
            const int line = 2 + static_cast<int>(std::count(main.begin(), main.begin() + before, '\n')) +
                             (after_dispose ? 2 : 1);
            main.insert(before, injected);
            main.insert(main.find('{') + 2, "    static Array zz;\n");

            const process_result faulty = run_in(classes, true, dir);
            EXPECT_EQ(faulty.exit_code, 1) << faulty.err;
            const std::string place = dir + "/Main.jack:" + std::to_string(line) + ":9: error: address ";
            EXPECT_NE(faulty.err.find("\n" + place), std::string::npos) << place << "\n" << faulty.err;
            const std::string what = after_dispose ? "is in a block freed at " + dir + "/Main.jack:" +
                                                         std::to_string(line - 1) + "\n"
                                                   : "-word block given out at " + dir + "/Main.jack:" +
                                                         std::to_string(line - 1) + "\n";
            EXPECT_NE(faulty.err.find(what), std::string::npos) << what << "\n" << faulty.err;
            caught += faulty.exit_code == 1;
        }
        EXPECT_EQ(caught, 40);
    }
}
