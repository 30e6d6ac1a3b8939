// Looking inside a run: an interrupt that keeps the result, the profile and
// its agreement with the trace and the step count, the trace of a small
// program against its golden file, and the recording read back frame by
// frame.
#include "tests/support/png_reader.h"
#include "tests/support/process.h"
#include "tests/support/random_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    namespace fs = std::filesystem;

    std::string read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    struct folder
    {
        std::string path;
        folder()
        {
            char name[] = "/tmp/vmrun_inside_XXXXXX";
            if (mkdtemp(name) == nullptr)
                std::abort();
            path = name;
        }
        ~folder() { fs::remove_all(path); }
        void write(const std::string &name, const std::string &text) const
        {
            std::ofstream(path + "/" + name, std::ios::binary) << text;
        }
    };

    std::string replaced(std::string text, const std::string &from, const std::string &to)
    {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    }

    // SIGINT or SIGTERM a second into the run, in each state a run can
    // be in: the text so far, the screen, the statistics and the report are
    // all there, and the status is the signal's.
    TEST(LookInside, AnInterruptKeepsTheResult)
    {
        // Below the text, which the second line prints (in the library's
        // case its string never comes: making it calls the endless alloc).
        const std::string drawing =
            "        do Screen.drawRectangle(0, 100, 9, 109);\n        do Output.printString(\"drawn\");\n";
        const struct
        {
            const char *state;
            const char *signal;
            int status;
            std::vector<std::pair<std::string, std::string>> files;
            const char *innermost;  // the first frame of the call stack
        } cases[] = {
            {"computing", "INT", 130,
             {{"Main.jack", "class Main {\n    function void main() {\n        var int i;\n" + drawing +
                                "        while (true) {\n            let i = i + 1;\n        }\n        return;\n    }\n}\n"}},
             "    Main.main ("},
            {"waiting for a key", "TERM", 143,
             {{"Main.jack", "class Main {\n    function void main() {\n        var char c;\n" + drawing +
                                "        let c = Keyboard.readChar();\n        return;\n    }\n}\n"}},
             "    Keyboard.readChar (library)\n"},
            {"inside the library", "INT", 130,
             {{"Main.jack", "class Main {\n    function void main() {\n        var String s;\n" + drawing +
                                "        let s = String.new(3);\n        return;\n    }\n}\n"},
              {"Memory.jack", "class Memory {\n    function int alloc(int n) {\n        while (true) {\n"
                              "            let n = n + 1;\n        }\n        return n;\n    }\n}\n"}},
             "    Memory.alloc ("},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.state);
            folder dir;
            for (const auto &[name, text] : c.files)
                dir.write(name, text);
            // Standard input stays open while the program waits for a key;
            // a second is time enough to compile and reach the state even
            // under the sanitizers on a busy machine.
            const std::string command = "sleep 5 | timeout --preserve-status -s " + std::string(c.signal) + " 1 " +
                                        program("vmrun") + " --stats --screen " + dir.path + "/s.png " + dir.path;
            const process_result r = run_process({"/bin/sh", "-c", command});
            EXPECT_EQ(r.exit_code, c.status) << r.err;
            EXPECT_EQ(r.out, std::string(c.state) == "inside the library" ? "" : "drawn");
            EXPECT_NE(r.err.find(std::string(": note: interrupted by SIG") + c.signal + ": "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("call stack, innermost first:\n" + std::string(c.innermost)), std::string::npos)
                << r.err;
            EXPECT_NE(r.err.find("\nsteps: "), std::string::npos) << r.err;
            const test_support::png_image screen = test_support::read_png(read(dir.path + "/s.png"));
            EXPECT_EQ(test_support::screen_words(screen.rows)[32 * 100], 0x3ff);  // the rectangle's top row
        }
    }

    // The stacks of a trace, from its indentation: each call line is a
    // stack, outermost first; "innermost is VM code" when the function is
    // no library's.
    std::set<std::string> traced_stacks(const std::string &trace)
    {
        std::set<std::string> stacks;
        std::vector<std::string> open;
        std::istringstream lines(trace);
        std::string line;
        while (std::getline(lines, line))
        {
            const size_t depth = line.find_first_not_of(' ') / 2;
            const std::string rest = line.substr(depth * 2);
            if (rest.find(" returns ") != std::string::npos)
                continue;
            open.resize(depth);
            open.push_back(rest.substr(0, rest.find('(')));
            std::string stack;
            for (const std::string &f : open)
                stack += (stack.empty() ? "" : ";") + f;
            stacks.insert(stack);
        }
        return stacks;
    }

    // On generated programs: the profile's steps add up to the run's, every
    // stack it names was traced, and every traced call of VM code took
    // steps in it; the Jack lines' steps add up to the run's but the start.
    TEST(LookInside, TheProfileAgreesWithTheStepsAndTheTrace)
    {
        for (unsigned seed = 500; seed < 520; ++seed)
        {
            SCOPED_TRACE("seed " + std::to_string(seed));
            folder dir;
            std::set<std::string> vm_functions;
            for (const auto &[name, text] : test_support::random_program(seed))
            {
                dir.write(name, text);
                const std::string cls = name.substr(0, name.size() - 5);
                for (size_t at = text.find("function "); at != std::string::npos; at = text.find("function ", at + 1))
                {
                    const size_t open = text.find('(', at);
                    const size_t start = text.rfind(' ', open) + 1;
                    vm_functions.insert(cls + "." + text.substr(start, open - start));
                }
            }
            const process_result r =
                run_process({program("vmrun"), "--stats", "--profile", dir.path + "/p.folded", "--profile-lines",
                             dir.path + "/p.lines", "--trace", dir.path + "/t.txt", dir.path});
            ASSERT_EQ(r.exit_code, 0) << r.err;
            const long long steps = std::atoll(r.err.c_str() + r.err.find("\nsteps: ") + 8);

            long long profiled = 0, lined = 0;
            std::set<std::string> profile_stacks;
            std::istringstream folded(read(dir.path + "/p.folded"));
            std::string line;
            while (std::getline(folded, line))
            {
                profiled += std::atoll(line.c_str() + line.rfind(' ') + 1);
                profile_stacks.insert(line.substr(0, line.rfind(' ')));
            }
            std::istringstream by_line(read(dir.path + "/p.lines"));
            while (std::getline(by_line, line))
                lined += std::atoll(line.c_str() + line.rfind(' ') + 1);
            EXPECT_EQ(profiled, steps);
            EXPECT_EQ(lined, steps - 1);  // the start's call of Sys.init stands on no line

            const std::set<std::string> traced = traced_stacks(read(dir.path + "/t.txt"));
            for (const std::string &stack : profile_stacks)
                EXPECT_EQ(traced.count(stack), 1u) << stack;
            for (const std::string &stack : traced)
            {
                if (vm_functions.count(stack.substr(stack.rfind(';') + 1)) != 0)
                {
                    EXPECT_EQ(profile_stacks.count(stack), 1u) << stack;
                }
            }
        }
    }

    TEST(LookInside, TheTraceOfASmallProgram)
    {
        folder dir;
        dir.write("Main.jack", test_support::source_file("tests/tools/vmrun/golden/Main.jack"));
        const process_result r = run_process({program("vmrun"), "--trace", dir.path + "/t.txt", dir.path});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(read(dir.path + "/t.txt"),
                  replaced(test_support::source_file("tests/tools/vmrun/golden/trace.txt"), "DIR", dir.path));
    }

    // A frame each time the screen changed, at most every N steps, the last
    // screen last; a plain reader sees the first frame.
    TEST(LookInside, TheRecordingReadsBackFrameByFrame)
    {
        folder dir;
        dir.write("Main.jack", "class Main {\n    function void main() {\n        var int i;\n"
                               "        while (i < 40) {\n            do Screen.drawLine(0, i, 511, i);\n"
                               "            let i = i + 1;\n        }\n        return;\n    }\n}\n");
        const process_result r = run_process({program("vmrun"), "--record", dir.path + "/r.png", "--record-every",
                                              "50", "--screen", dir.path + "/s.png", dir.path});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const test_support::png_image recording = test_support::read_png(read(dir.path + "/r.png"));
        const test_support::png_image screen = test_support::read_png(read(dir.path + "/s.png"));
        ASSERT_TRUE(recording.animated);
        ASSERT_GE(recording.frames.size(), 10u);
        EXPECT_EQ(recording.rows, recording.frames.front().rows);
        EXPECT_EQ(recording.frames.back().rows, screen.rows);
        // Each frame has more lines drawn than the one before.
        int previous = -1;
        for (const test_support::png_frame &frame : recording.frames)
        {
            int black = 0;
            for (int word : test_support::screen_words(frame.rows))
                black += __builtin_popcount(static_cast<unsigned>(word));
            EXPECT_GT(black, previous);
            previous = black;
            EXPECT_GT(frame.delay_numerator, 0);
        }
        EXPECT_EQ(previous, 40 * 512);
    }
}
