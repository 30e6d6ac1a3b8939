// The reports of faulty Jack programs, run from source and from the .vm
// files jackc -g writes: the Jack place of what happened with its source
// line, and the call stack in Jack lines; and every kind of --check fault.
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    namespace fs = std::filesystem;

    struct report_case
    {
        const char *name;
        std::vector<std::string> options;
        std::string main;            // Main.jack
        int status;
        std::string compile_report;  // what compiling says, DIR for the folder
        std::string run_report;
    };

    std::string in_folder(std::string text, const std::string &dir)
    {
        for (size_t at = text.find("DIR"); at != std::string::npos; at = text.find("DIR", at))
            text.replace(at, 3, dir);
        return text;
    }

    const std::string call_stack = "call stack, innermost first:\n";

    const report_case cases[] = {
        {"SysError", {},
         "class Main {\n    function void main() {\n        do Output.printInt(Main.half(0));\n        return;\n    }\n\n"
         "    function int half(int n) {\n        return 10 / n;\n    }\n}\n",
         1, "",
         "DIR/Main.jack:8:9: error: Sys.error(3): Math.divide: division by zero\n        return 10 / n;\n        ^\n" +
             call_stack +
             "    Sys.error (library)\n    Math.divide (library)\n    Main.half (DIR/Main.jack:8)\n"
             "    Main.main (DIR/Main.jack:3)\n    Sys.init (library)\n"},
        {"RecursionIsOneLineAndACount", {},
         "class Main {\n    function void main() {\n        do Main.down(1);\n        return;\n    }\n\n"
         "    function void down(int n) {\n        do Main.down(n + 1);\n        return;\n    }\n}\n",
         1, "",
         "DIR/Main.jack:8:9: error: stack overflow: a call would write above address 2047\n"
         "        do Main.down(n + 1);\n        ^\n" +
             call_stack +
             "    Main.down (DIR/Main.jack:8)\n    ... 296 more frames of Main.down (DIR/Main.jack:8)\n"
             "    Main.main (DIR/Main.jack:3)\n    Sys.init (library)\n"},
        {"StepLimit", {"--steps", "40"},
         "class Main {\n    function void main() {\n        var int i;\n        while (true) {\n"
         "            let i = i + 1;\n        }\n        return;\n    }\n}\n",
         2, "",
         "DIR/Main.jack:4:9: note: step limit reached: 40 steps ran\n        while (true) {\n        ^\n" + call_stack +
             "    Main.main (DIR/Main.jack:4)\n    Sys.init (library)\n"},
        {"EndOfInput", {},
         "class Main {\n    function void main() {\n        var char c;\n        let c = Keyboard.readChar();\n"
         "        return;\n    }\n}\n",
         3, "",
         "DIR/Main.jack:4:9: note: standard input ended while Keyboard.readChar waited for a key\n"
         "        let c = Keyboard.readChar();\n        ^\n" +
             call_stack + "    Keyboard.readChar (library)\n    Main.main (DIR/Main.jack:4)\n    Sys.init (library)\n"},
        {"UndefinedCallReached", {"--allow-undefined"},
         "class Main {\n    function void main() {\n        do Main.ok();\n        do Screen.drawDot(1, 2);\n"
         "        return;\n    }\n\n    function void ok() {\n        return;\n    }\n}\n",
         1,
         "DIR/Main.jack:4:12: warning: the class Screen has no subroutine \"drawDot\"; the run faults if the call is "
         "reached\n        do Screen.drawDot(1, 2);\n           ^\n",
         "DIR/Main.jack:4:9: error: Screen.drawDot is defined by no file and not by the library\n"
         "        do Screen.drawDot(1, 2);\n        ^\n" +
             call_stack + "    Main.main (DIR/Main.jack:4)\n    Sys.init (library)\n"},
        // --check, each kind of access out of every block.
        {"CheckNullObject", {"--check"},
         "class Main {\n    field int x;\n\n    function void main() {\n        var Main m;\n"
         "        do Output.printInt(m.get());\n        return;\n    }\n\n    method int get() {\n"
         "        return x;\n    }\n}\n",
         1, "",
         "DIR/Main.jack:11:9: error: address 0 is not in any block (a null object?)\n        return x;\n        ^\n" +
             call_stack + "    Main.get (DIR/Main.jack:11)\n    Main.main (DIR/Main.jack:6)\n    Sys.init (library)\n"},
        {"CheckPastTheEnd", {"--check"},
         "class Main {\n    function void main() {\n        var Array a;\n        let a = Array.new(10);\n"
         "        let a[10] = 5;\n        return;\n    }\n}\n",
         1, "",
         "DIR/Main.jack:5:9: error: address 2059 is 1 word past the end of the 10-word block given out at "
         "DIR/Main.jack:4\n        let a[10] = 5;\n        ^\n" +
             call_stack + "    Main.main (DIR/Main.jack:5)\n    Sys.init (library)\n"},
        {"CheckFreed", {"--check"},
         "class Main {\n    function void main() {\n        var Array a;\n        let a = Array.new(4);\n"
         "        do a.dispose();\n        let a[2] = 1;\n        return;\n    }\n}\n",
         1, "",
         "DIR/Main.jack:6:9: error: address 2051 is in a block freed at DIR/Main.jack:5\n        let a[2] = 1;\n"
         "        ^\n" +
             call_stack + "    Main.main (DIR/Main.jack:6)\n    Sys.init (library)\n"},
        {"CheckFreedAfterNinetyThousandBlocks", {"--check"},
         "class Main {\n    function void main() {\n        var Array a, b;\n        var int i;\n"
         "        while (i < 30000) {\n            let b = Array.new(3);\n            do b.dispose();\n"
         "            let b = Array.new(5);\n            do b.dispose();\n            let b = Array.new(2);\n"
         "            do b.dispose();\n            let i = i + 1;\n        }\n        let a = Array.new(4);\n"
         "        do a.dispose();\n        let a[3] = 1;\n        return;\n    }\n}\n",
         1, "",
         "DIR/Main.jack:16:9: error: address 2052 is in a block freed at DIR/Main.jack:15\n        let a[3] = 1;\n"
         "        ^\n" +
             call_stack + "    Main.main (DIR/Main.jack:16)\n    Sys.init (library)\n"},
        {"CheckTheAllocatorsWord", {"--check"},
         "class Main {\n    function void main() {\n        var Array a;\n        var int n;\n"
         "        let a = Array.new(3);\n        let n = a[-1];\n        do Output.printInt(n);\n        return;\n"
         "    }\n}\n",
         1, "",
         "DIR/Main.jack:6:9: error: address 2048 is the allocator's word before the 3-word block given out at "
         "DIR/Main.jack:5\n        let n = a[-1];\n        ^\n" +
             call_stack + "    Main.main (DIR/Main.jack:6)\n    Sys.init (library)\n"},
        {"CheckOffUnderAnAllocatorOfItsOwn", {"--check"},
         "class Main {\n    function void main() {\n        var Array a;\n        let a = Array.new(2);\n"
         "        let a[7] = 1;\n        return;\n    }\n}\n",
         0, "",
         "vmrun: --check: the program brings its own Memory.alloc or Memory.deAlloc, so its heap is not checked\n"},
    };

    class JackReports : public testing::TestWithParam<report_case>
    {
    };

    TEST_P(JackReports, FromSourceAndFromMarkedFiles)
    {
        const report_case &c = GetParam();
        char name[] = "/tmp/vmrun_reports_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        const std::string dir = name;
        std::ofstream(dir + "/Main.jack") << c.main;
        std::vector<std::string> files = {dir + "/Main.vm"};
        if (std::string(c.name) == "CheckOffUnderAnAllocatorOfItsOwn")
        {
            // An allocator that hands out words from 3000 on, one after the other.
            std::ofstream(dir + "/Memory.jack")
                << "class Memory {\n    static int next;\n\n    function int alloc(int n) {\n"
                   "        var int p;\n        if (next = 0) {\n            let next = 3000;\n        }\n"
                   "        let p = next;\n        let next = next + n;\n        return p;\n    }\n}\n";
            files.push_back(dir + "/Memory.vm");
        }

        std::vector<std::string> from_source = {program("vmrun")};
        from_source.insert(from_source.end(), c.options.begin(), c.options.end());
        from_source.push_back(dir);
        const process_result source = run_process(from_source);
        EXPECT_EQ(source.exit_code, c.status);
        EXPECT_EQ(source.err, in_folder(c.compile_report + c.run_report, dir));

        std::vector<std::string> jackc = {program("jackc"), "-g", dir};
        if (std::string(c.name) == "UndefinedCallReached")
            jackc.insert(jackc.begin() + 1, "--allow-undefined");
        const process_result compiled = run_process(jackc);
        ASSERT_EQ(compiled.exit_code, 0) << compiled.err;
        EXPECT_EQ(compiled.err, in_folder(c.compile_report, dir));
        std::vector<std::string> marked = {program("vmrun")};
        marked.insert(marked.end(), c.options.begin(), c.options.end());
        marked.insert(marked.end(), files.begin(), files.end());
        const process_result from_files = run_process(marked);
        EXPECT_EQ(from_files.exit_code, c.status);
        EXPECT_EQ(from_files.err, in_folder(c.run_report, dir));
        EXPECT_EQ(from_files.out, source.out);
        fs::remove_all(dir);
    }

    INSTANTIATE_TEST_SUITE_P(EveryKind, JackReports, testing::ValuesIn(cases),
                             [](const testing::TestParamInfo<report_case> &info) { return info.param.name; });
}
