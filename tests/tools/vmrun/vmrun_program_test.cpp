// vmrun end to end: the real program on files in a folder of its own, its
// real standard input, output and error, exit status and screen file.
#include "tests/support/png_reader.h"
#include "tests/support/process.h"
#include "tests/vm/vm_text.h"
#include "vm/png_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

using test_support::process_options;
using test_support::process_result;
using test_support::program;
using test_support::run_process;
using vmrun_test::lines;
using vmrun_test::main_of;

namespace
{
    namespace fs = std::filesystem;

    // A folder of files that lives as long as the test.
    class folder
    {
    public:
        explicit folder(const std::map<std::string, std::string> &files)
        {
            char name[] = "/tmp/vmrun_test_XXXXXX";
            if (mkdtemp(name) == nullptr)
                std::abort();
            path_ = name;
            for (const auto &[file, text] : files)
                std::ofstream(path_ + "/" + file, std::ios::binary) << text;
        }
        ~folder() { fs::remove_all(path_); }
        const std::string &path() const { return path_; }
        std::string operator/(const std::string &file) const { return path_ + "/" + file; }

    private:
        std::string path_;
    };

    process_result vmrun(const folder &dir, std::vector<std::string> args, const std::string &input = "",
                         bool merged = false)
    {
        for (std::string &arg : args)
            if (arg[0] == '@')
                arg = dir / arg.substr(1);
        args.insert(args.begin(), program("vmrun"));
        args.push_back(dir.path());
        process_options options;
        options.input = input;
        options.merge_stderr = merged;
        process_result r = run_process(args, options);
        // Reports name the files by their path; the folder's name varies.
        for (std::string *text : {&r.out, &r.err})
            for (size_t at; (at = text->find(dir.path() + "/")) != std::string::npos;)
                text->erase(at, dir.path().size() + 1);
        return r;
    }

    struct report_case
    {
        const char *name;
        std::map<std::string, std::string> files;
        int status;
        std::string report; // the start of standard error
        std::vector<std::string> args = {};
        std::string input = "";
        std::optional<std::string> out = std::nullopt; // all of standard output, when given
        bool merged = false; // standard error into standard output's pipe
    };

    void PrintTo(const report_case &c, std::ostream *os)
    {
        *os << c.name;
    }

    class Reports : public testing::TestWithParam<report_case>
    {
    };

    TEST_P(Reports, NameFileLineAndStatus)
    {
        const report_case &c = GetParam();
        const folder dir(c.files);
        const process_result r = vmrun(dir, c.args, c.input, c.merged);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.exit_code, c.status);
        EXPECT_EQ(r.err.substr(0, c.report.size()), c.report) << r.err;
        if (c.out)
        {
            EXPECT_EQ(r.out, *c.out);
        }
    }

    std::map<std::string, std::string> main_file(const std::string &text)
    {
        return {{"Main.vm", text}};
    }

    const std::string commands = "a command (push, pop, add, sub, neg, eq, gt, lt, and, or, not, label, goto, "
                                 "if-goto, function, call, return)";

    INSTANTIATE_TEST_SUITE_P(LoadErrors, Reports, testing::Values(
        report_case{"layout_of_other_compilers",
                    main_file("// comment\r\n\r\nfunction Main.main 0\r\n\t push constant 0 // z\r\n  return  "), 0, ""},
        report_case{"unknown_command", main_file(lines("function Main.main 0;pusj constant 1")), 1,
                    "vmrun: Main.vm:2: expected " + commands + " but found \"pusj\"\n"},
        report_case{"bad_segment", main_file(lines("function Main.main 0;push stack 1")), 1,
                    "vmrun: Main.vm:2: expected a segment (argument, local, static, constant, this, that, pointer, "
                    "temp) but found \"stack\"\n"},
        report_case{"pop_constant", main_file(lines("function Main.main 0;pop constant 1")), 1,
                    "vmrun: Main.vm:2: expected a segment (argument, local, static, this, that, pointer, temp) but "
                    "found \"constant\"\n"},
        report_case{"temp_range", main_file(lines("function Main.main 0;push temp 8")), 1,
                    "vmrun: Main.vm:2: expected a temp index 0 to 7 but found \"8\"\n"},
        report_case{"pointer_range", main_file(lines("function Main.main 0;pop pointer 2")), 1,
                    "vmrun: Main.vm:2: expected a pointer index 0 or 1 but found \"2\"\n"},
        report_case{"index_range", main_file(lines("function Main.main 0;push constant 32768")), 1,
                    "vmrun: Main.vm:2: expected an index 0 to 32767 but found \"32768\"\n"},
        report_case{"missing_word", main_file(lines("function Main.main")), 1,
                    "vmrun: Main.vm:1: expected a local count 0 to 32767 but found the end of the line\n"},
        report_case{"extra_word", main_file(lines("function Main.main 0;add 1")), 1,
                    "vmrun: Main.vm:2: expected the end of the line but found \"1\"\n"},
        report_case{"bad_name", main_file(lines("function 1Main.main 0")), 1,
                    "vmrun: Main.vm:1: expected a function name but found \"1Main.main\"\n"},
        report_case{"before_function", main_file(lines("// a comment;push constant 1;function Main.main 0")), 1,
                    "vmrun: Main.vm:2: expected \"function\" before the first command of the file but found \"push\"\n"},
        report_case{"undefined_label", main_file(lines("function Main.main 0;goto END;function Main.f 0;label END")),
                    1, "vmrun: Main.vm:2: expected a label of Main.main but found \"END\"\n"},
        report_case{"label_twice", main_file(lines("function Main.main 0;label A;label A")), 1,
                    "vmrun: Main.vm:3: expected a label not defined before in Main.main but found \"A\"\n"},
        report_case{"function_twice", {{"A.vm", lines("function Main.main 0")}, {"B.vm", lines(";function Main.main 0")}},
                    1, "vmrun: B.vm:2: expected a function not defined before (Main.main is defined at A.vm:1) but "
                       "found a second definition\n"},
        report_case{"undefined_call", main_file(lines("function Main.main 0;call Main.nothing 0")), 1,
                    "vmrun: Main.vm:2: expected a function that the files or the standard library define but found "
                    "\"Main.nothing\"\n"},
        report_case{"library_arguments", main_file(lines("function Main.main 0;call String.length 0")), 1,
                    "vmrun: Main.vm:2: expected String.length with 1 argument but found 0\n"},
        report_case{"statics_over_240", {{"A.vm", lines("function A.f 0;push static 199")},
                                         {"Main.vm", lines("function Main.main 0;;pop static 40")}}, 1,
                    "vmrun: Main.vm:3: expected at most 240 words of statics in all but found static 40, which makes "
                    "241\n"},
        report_case{"no_main", {{"A.vm", lines("function A.f 0;return")}}, 1,
                    "vmrun: the program: expected a function Main.main, which Sys.init calls, but found none in the "
                    "files\n"},
        report_case{"key_script", {{"Main.vm", main_of("")}, {"keys.txt", "5 1\n5 2\n"}}, 1,
                    "vmrun: keys.txt:2: expected a step above 5 but found 5\n", {"--keys", "@keys.txt"}},
        // "Decimal" sets no bound on the leading zeros.
        report_case{"leading_zeros", main_file(main_of("push constant 00000000000000000007;call Output.printInt 1;"
                                                       "pop temp 0")), 0, "", {}, "", "7"},
        report_case{"screen_without_name", main_file(main_of("")), 1,
                    "vmrun: --screen: expected a file name but found \"\"\n", {"--screen", ""}, "", ""}));

    // Faults and the other ends of a run: what happened, where, the call
    // stack.
    INSTANTIATE_TEST_SUITE_P(Faults, Reports, testing::Values(
        report_case{"stack_overflow", main_file(lines("function Main.main 0;call Main.f 0;return;"
                                                      "function Main.f 1;call Main.f 0;return")), 1,
                    "vmrun: stack overflow: a function would write above address 2047\n"
                    "at Main.f, Main.vm:4: function Main.f 1\n"
                    "call stack, innermost first:\n"
                    "    Main.f (Main.vm:4)\n"
                    "    Main.f (Main.vm:5)\n"},
        // Main.main's frame, 5 words from 256, goes first.
        report_case{"stack_underflow", main_file(lines("function Main.main 0;pop temp 0;pop temp 0;"
                                                       "pop temp 0;pop temp 0;pop temp 0;pop temp 0")), 1,
                    "vmrun: stack underflow: a pop with SP at 256\n"
                    "at Main.main, Main.vm:7: pop temp 0\n"
                    "call stack, innermost first:\n"
                    "    Main.main (Main.vm:7)\n"
                    "    Sys.init (library)\n"},
        report_case{"address_outside", main_file(lines("function Main.main 0;\tpush constant 30000;pop pointer 1;"
                                                       "push that  0 // the keyboard is the last word")), 1,
                    "vmrun: address 30000 is outside the RAM (0 to 24576)\n"
                    "at Main.main, Main.vm:4: push that 0\n"},
        report_case{"no_return", main_file(lines("function Main.main 0;call Main.f 0;return;"
                                                 "function Main.f 0;push constant 1")), 1,
                    "vmrun: the end of Main.f was reached without a return\n"
                    "at Main.f, Main.vm:5: push constant 1\n"
                    "call stack, innermost first:\n"
                    "    Main.f (Main.vm:5)\n"
                    "    Main.main (Main.vm:2)\n"
                    "    Sys.init (library)\n"},
        report_case{"return_address_overwritten",
                    main_file(lines("function Main.main 0;call Main.f 0;return;function Main.f 0;push constant 1;"
                                    "call Memory.peek 1;push constant 5;sub;pop pointer 1;push constant 77;"
                                    "pop that 0;push constant 0;return")), 1,
                    "vmrun: the return address in the frame, RAM[261], was overwritten\n"
                    "at Main.f, Main.vm:13: return\n"},
        // Main.main takes its own frame off and starts again through Sys.init.
        report_case{"nesting_without_end",
                    main_file(lines("function Main.main 0;pop temp 0;pop temp 0;pop temp 0;pop temp 0;pop temp 0;"
                                    "call Sys.init 0")), 1,
                    "vmrun: the library and VM code call each other more than 1000 deep\n"
                    "at Main.main, Main.vm:7: call Sys.init 0\n"},
        report_case{"step_limit", main_file(lines("function Main.main 0;label L;goto L")), 2,
                    "vmrun: step limit reached: 10 steps ran\n"
                    "at Main.main, Main.vm:3: goto L\n", {"--steps", "10"}},
        report_case{"input_ended", main_file(main_of("call Keyboard.readChar 0;call Keyboard.readChar 0")), 3,
                    "vmrun: standard input ended while Keyboard.readChar waited for a key\n", {}, "x"},
        // SP set to 3000 through THAT = 0: a library call with arguments
        // faults as a push or a call of VM code there does.
        report_case{"library_call_above_the_stack",
                    main_file(main_of("push constant 0;pop pointer 1;push constant 3000;pop that 0;call Math.abs 1;"
                                      "call Output.printInt 1")), 1,
                    "vmrun: stack overflow: a call would write above address 2047\n"
                    "at Main.main, Main.vm:6: call Math.abs 1\n", {}, "", ""},
        // Its value would land at 2047, but its second argument lies above
        // the stack, where no push puts one.
        report_case{"library_arguments_above_the_stack",
                    main_file(main_of("push constant 0;pop pointer 1;push constant 2049;pop that 0;call Math.max 2")),
                    1, "vmrun: SP is 2049, outside the stack (256 to 2047)\n"
                       "at Main.main, Main.vm:6: call Math.max 2\n"},
        // The second pop of add fails, with SP at 256.
        report_case{"underflow_of_two_operands",
                    main_file(lines("function Main.main 0;pop temp 0;pop temp 0;pop temp 0;pop temp 0;pop temp 0;"
                                    "push constant 1;add")), 1,
                    "vmrun: stack underflow: a pop with SP at 256\n"
                    "at Main.main, Main.vm:8: add\n"},
        // Main.g sets LCL to Main.f's, which its frame saved at LCL - 4:
        // the return takes the return address at LCL - 5, Main.f's, and
        // leaves both frames; 5 + 100 is printed in Main.main.
        report_case{"return_through_the_callers_frame",
                    main_file(lines("function Main.main 0;call Main.f 0;push constant 100;add;call Output.printInt 1;"
                                    "pop temp 0;push constant 0;return;"
                                    "function Main.f 0;push constant 7;call Main.g 0;pop temp 0;push constant 1;"
                                    "return;"
                                    "function Main.g 0;push constant 1;call Memory.peek 1;push constant 4;sub;"
                                    "pop pointer 1;push that 0;pop temp 0;push constant 1;push temp 0;"
                                    "call Memory.poke 2;pop temp 1;push constant 5;return")), 0, "", {}, "", "105"},
        report_case{"return_through_no_frame",
                    main_file(lines("function Main.main 0;call Main.f 0;return;function Main.f 0;push constant 1000;"
                                    "pop temp 0;push constant 1;push temp 0;call Memory.poke 2;push constant 0;"
                                    "return")), 1,
                    "vmrun: LCL is 1000, which points at no frame of the call stack (RAM[995] holds 0, no return "
                    "address of the innermost frame)\n"
                    "at Main.f, Main.vm:11: return\n"},
        // LCL set to Main.f's frame, whose return address Main.g changed.
        report_case{"return_through_a_changed_frame",
                    main_file(lines("function Main.main 0;call Main.f 0;return;function Main.f 0;call Main.g 0;"
                                    "return;function Main.g 0;push constant 261;pop pointer 1;push constant 55;"
                                    "pop that 0;push constant 1;push constant 266;call Memory.poke 2;pop temp 0;"
                                    "push constant 0;return")), 1,
                    "vmrun: LCL points at the frame of Main.f, whose return address, RAM[261], was overwritten\n"
                    "at Main.g, Main.vm:17: return\n"},
        // The program's own Memory.alloc, called by String.new, sets LCL to
        // Main.f's frame: leaving it would leave String.new half done.
        report_case{"return_out_of_the_library",
                    main_file(lines("function Main.main 0;call Main.f 0;return;function Main.f 0;push constant 3;"
                                    "call String.new 1;return;function Memory.alloc 0;push constant 1;"
                                    "push constant 266;call Memory.poke 2;pop temp 0;push constant 0;return")), 1,
                    "vmrun: LCL points at the frame of Main.f, outside the call of Memory.alloc by the library, "
                    "which a return cannot leave\n"
                    "at Memory.alloc, Main.vm:14: return\n"},
        // c + 2 words do not fit a word, nor the heap.
        report_case{"string_beyond_a_word", main_file(main_of("push constant 32766;call String.new 1")), 1,
                    "vmrun: Sys.error(6): Memory.alloc: no free block is large enough\n"
                    "at Main.main, Main.vm:3: call String.new 1\n"},
        report_case{"line_of_32768_keys", main_file(main_of("push constant 0;call String.new 1;"
                                                            "call Keyboard.readLine 1")), 1,
                    "vmrun: Sys.error(6): Memory.alloc: no free block is large enough\n"
                    "at Main.main, Main.vm:4: call Keyboard.readLine 1\n", {}, std::string(32768, 'k') + "\n"},
        report_case{"line_of_65539_keys", main_file(main_of("push constant 0;call String.new 1;"
                                                            "call Keyboard.readLine 1")), 1,
                    "vmrun: Sys.error(6): Memory.alloc: no free block is large enough\n"
                    "at Main.main, Main.vm:4: call Keyboard.readLine 1\n", {}, std::string(65539, 'k') + "\n"},
        // Standard output and error in one pipe: the report starts a line
        // of its own after "ERR3".
        report_case{"report_after_text_on_the_same_file",
                    main_file(main_of("push constant 1;push constant 0;call Math.divide 2")), 1, "", {}, "",
                    "ERR3\nvmrun: Sys.error(3): Math.divide: division by zero\n"
                    "at Main.main, Main.vm:4: call Math.divide 2\n"
                    "call stack, innermost first:\n"
                    "    Sys.error (library)\n"
                    "    Math.divide (library)\n"
                    "    Main.main (Main.vm:4)\n"
                    "    Sys.init (library)\n", true}));

    // The text of a run reaches standard output in order, whatever ends it;
    // --stats ends standard error with "steps: N" among its lines.
    TEST(Vmrun, StepsAreExact)
    {
        // The start's call, then function, push and return of Main.main.
        const folder dir(main_file(main_of("")));
        EXPECT_EQ(vmrun(dir, {"--steps", "3"}).exit_code, 2);
        const process_result r = vmrun(dir, {"--steps", "4", "--stats"});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_NE(r.err.find("steps: 4\ncalls: 1\n"), std::string::npos) << r.err;
    }

    TEST(Vmrun, KeyScriptHoldsKeysFromAStep)
    {
        // Loops until a key is held, then prints it and the loop's count.
        const folder dir({{"Main.vm", lines("function Main.main 1;label L;push local 0;push constant 1;add;"
                                            "pop local 0;call Keyboard.keyPressed 0;push constant 0;eq;if-goto L;"
                                            "call Keyboard.keyPressed 0;call Output.printInt 1;pop temp 0;"
                                            "push local 0;call Output.printInt 1;return")},
                          {"keys.txt", "// held from step 100\r\n100\t65\n\n200 0\n"}});
        const process_result r = vmrun(dir, {"--keys", dir / "keys.txt"});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        // 2 steps to the loop, 8 a turn; turn t reads the key at step 8t - 1.
        EXPECT_EQ(r.out, "6513");
    }

    TEST(Vmrun, ScreenPng)
    {
        // Below the text grid, which the report of Sys.error writes on.
        const folder dir(main_file(main_of("push constant 0;push constant 254;call Screen.drawPixel 2;pop temp 0;"
                                           "push constant 9;push constant 255;call Screen.drawPixel 2;pop temp 0;"
                                           "push constant 1;neg;call Sys.wait 1")));
        const process_result r = vmrun(dir, {"--screen", dir / "s.png"});
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "ERR1");
        std::ifstream in(dir / "s.png", std::ios::binary);
        const std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Every chunk's CRC, the zlib stream, the header: 512 x 256, 1 bit grey.
        const test_support::png_image image = test_support::read_png(png);
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        EXPECT_EQ(png.substr(16, 13), std::string("\0\0\x02\0\0\0\x01\0\x01\0\0\0\0", 13));
        EXPECT_FALSE(image.animated);
        const std::string &pixels = image.rows;
        ASSERT_EQ(pixels.size(), 256u * 65);
        EXPECT_EQ(pixels.substr(0, 3), std::string("\0\xff\xff", 3));
        EXPECT_EQ(pixels.substr(254 * 65, 3), std::string("\0\x7f\xff", 3)); // (0, 254) black
        EXPECT_EQ(pixels.substr(255 * 65, 3), std::string("\0\xff\xbf", 3)); // (9, 255)
#ifdef JACK_HAVE_ZLIB
        // A screen that is nearly all white deflates to far less than its 16 KB.
        EXPECT_LT(png.size(), 1000u);
#endif
    }

    TEST(Vmrun, Checksums)
    {
        const std::string check = "123456789";
        const auto *bytes = reinterpret_cast<const unsigned char *>(check.data());
        EXPECT_EQ(vm_runner::crc32(bytes, check.size()), 0xcbf43926u);
        EXPECT_EQ(vm_runner::adler32(bytes, check.size()), 0x091e01deu);
    }

    TEST(Vmrun, UsageErrors)
    {
        for (const std::vector<std::string> &args : {std::vector<std::string>{}, {"--steps", "x", "."}, {"--frob", "."},
                                                     {"/nonexistent/A.vm"}, {"/etc/hostname"}})
        {
            std::vector<std::string> argv = args;
            argv.insert(argv.begin(), program("vmrun"));
            const process_result r = run_process(argv);
            EXPECT_EQ(r.exit_code, 1) << argv.size();
            EXPECT_EQ(r.err.substr(0, 7), "vmrun: ");
            EXPECT_EQ(r.out, "");
        }
    }
}
