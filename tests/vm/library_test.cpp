// The standard library, a table per group of classes: small VM programs run
// in this process, checked on their text, status, report and RAM.
#include "tests/vm/vm_text.h"

#include <gtest/gtest.h>

using namespace vmrun_test;
using vm_runner::run_status;

namespace
{
    struct library_case
    {
        const char *name;
        std::string commands; // of Main.main
        std::string text;     // printed
        int status = 0;
        std::vector<std::pair<int, int>> ram = {}; // address, value after the run
        std::string keys = "";                     // standard input
        std::string report = "";                   // the report's first line
    };

    void PrintTo(const library_case &c, std::ostream *os)
    {
        *os << c.name;
    }

    class Library : public testing::TestWithParam<library_case>
    {
    };

    TEST_P(Library, Runs)
    {
        const library_case &c = GetParam();
        const outcome o = run_main(c.commands, c.keys);
        EXPECT_EQ(o.status, c.status) << o.report;
        EXPECT_EQ(o.text, c.text);
        for (const auto &[address, value] : c.ram)
            EXPECT_EQ(o.ram[address], value) << "RAM[" << address << "]";
        if (!c.report.empty())
        {
            EXPECT_EQ(o.report.substr(0, o.report.find('\n')), c.report);
        }
        else if (c.status == 0)
        {
            EXPECT_EQ(o.report, "");
        }
    }

    const std::string print = ";call Output.printInt 1;pop temp 0;";
    const std::string space = "push constant 32;call Output.printChar 1;pop temp 0;";

    // A string of the given characters, left on the stack.
    std::string string_of(const std::string &chars, int capacity = -1)
    {
        std::string s = "push constant " + std::to_string(capacity < 0 ? chars.size() : capacity) + ";call String.new 1";
        for (unsigned char c : chars)
            s += ";push constant " + std::to_string(c) + ";call String.appendChar 2";
        return s;
    }

    INSTANTIATE_TEST_SUITE_P(Math, Library, testing::Values(
        library_case{"multiply_wraps", "push constant 300;push constant 300;call Math.multiply 2" + print, "24464"},
        library_case{"divide_truncates", "push constant 7;neg;push constant 2;call Math.divide 2" + print, "-3"},
        library_case{"divide_wraps", "push constant 32767;not;push constant 1;neg;call Math.divide 2" + print, "-32768"},
        library_case{"divide_by_zero", "push constant 7;push constant 0;call Math.divide 2" + print, "ERR3", 1, {}, "",
                     "vmrun: Sys.error(3): Math.divide: division by zero"},
        library_case{"abs_of_most_negative", "push constant 32767;not;call Math.abs 1" + print + space +
                     "push constant 5;neg;call Math.abs 1" + print, "-32768 5"},
        library_case{"min_max_signed", "push constant 5;neg;push constant 3;call Math.min 2" + print + space +
                     "push constant 5;neg;push constant 3;call Math.max 2" + print, "-5 3"},
        library_case{"sqrt", "push constant 32767;call Math.sqrt 1" + print + space +
                     "push constant 15;call Math.sqrt 1" + print, "181 3"},
        library_case{"sqrt_negative", "push constant 1;neg;call Math.sqrt 1" + print, "ERR4", 1}));

    INSTANTIATE_TEST_SUITE_P(MemoryAndArray, Library, testing::Values(
        library_case{"first_fit_and_split", "push constant 3;call Memory.alloc 1" + print + space +
                     "push constant 1;call Memory.alloc 1" + print, "2049 2053", 0, {{2048, 4}, {2052, 2}}},
        library_case{"small_rest_is_not_split",
                     "push constant 3;call Memory.alloc 1;pop static 0;push constant 2;call Memory.alloc 1;pop temp 0;"
                     "push static 0;call Memory.deAlloc 1;pop temp 0;push constant 2;call Memory.alloc 1" + print,
                     "2049", 0, {{2048, 4}}},
        library_case{"freed_blocks_join",
                     "push constant 10;call Memory.alloc 1;pop static 0;push constant 10;call Memory.alloc 1;pop static 1;"
                     "push static 0;call Memory.deAlloc 1;pop temp 0;push static 1;call Memory.deAlloc 1;pop temp 0;"
                     "push constant 20;call Memory.alloc 1" + print, "2049", 0, {{2048, 21}, {2059, 11}}},
        library_case{"not_a_block_does_nothing", "push constant 5000;call Memory.deAlloc 1;pop temp 0;"
                     "push constant 2049;call Memory.deAlloc 1;pop temp 0;push constant 1;call Memory.alloc 1" + print,
                     "2049"},
        library_case{"fresh_block_is_not_cleared", "push constant 2050;push constant 99;call Memory.poke 2;pop temp 0;"
                     "push constant 5;call Memory.alloc 1;pop temp 0;push constant 2050;call Memory.peek 1" + print, "99"},
        library_case{"whole_heap_then_none", "push constant 14335;call Memory.alloc 1" + print +
                     ";push constant 1;call Memory.alloc 1" + print, "2049ERR6", 1},
        library_case{"alloc_not_positive", "push constant 0;call Memory.alloc 1" + print, "ERR5", 1},
        library_case{"array_not_positive", "push constant 0;call Array.new 1" + print, "ERR2", 1},
        library_case{"array_new_and_dispose", "push constant 4;call Array.new 1;call Array.dispose 1;pop temp 0;"
                     "push constant 2;call Array.new 1" + print, "2049"},
        library_case{"poke_outside", "push constant 30000;push constant 1;call Memory.poke 2" + print, "", 1, {}, "",
                     "vmrun: Memory.poke: address 30000 is outside the RAM (0 to 24576)"}));

    INSTANTIATE_TEST_SUITE_P(String, Library, testing::Values(
        library_case{"layout", string_of("AB", 3) + ";pop static 0;push static 0;call Output.printString 1;pop temp 0;"
                     "push static 0;push constant 1;call String.charAt 2" + print, "AB66", 0,
                     {{2048, 6}, {2049, 3}, {2050, 2}, {2051, 65}, {2052, 66}}},
        library_case{"int_value", string_of("-12a3") + ";call String.intValue 1" + print + space + string_of("70000") +
                     ";call String.intValue 1" + print, "-12 4464"},
        library_case{"set_int", "push constant 6;call String.new 1;pop static 0;push static 0;push constant 32767;not;"
                     "call String.setInt 2;pop temp 0;push static 0;call Output.printString 1;pop temp 0;"
                     "push static 0;call String.length 1" + print, "-327686"},
        library_case{"erase_and_set", string_of("xyz") + ";pop static 0;push static 0;call String.eraseLastChar 1;"
                     "pop temp 0;push static 0;push constant 0;push constant 81;call String.setCharAt 3;pop temp 0;"
                     "push static 0;call Output.printString 1;pop temp 0", "Qy"},
        library_case{"constants", "call String.newLine 0" + print + space + "call String.backSpace 0" + print + space +
                     "call String.doubleQuote 0" + print, "128 129 34"},
        library_case{"new_negative", "push constant 1;neg;call String.new 1", "ERR14", 1},
        library_case{"char_at_outside", string_of("ab") + ";push constant 2;call String.charAt 2", "ERR15", 1},
        library_case{"set_char_at_outside", string_of("ab") + ";push constant 1;neg;push constant 65;"
                     "call String.setCharAt 3", "ERR16", 1},
        library_case{"append_full", string_of("ab") + ";push constant 99;call String.appendChar 2", "ERR17", 1},
        library_case{"erase_empty", "push constant 2;call String.new 1;call String.eraseLastChar 1", "ERR18", 1},
        library_case{"set_int_too_small", "push constant 2;call String.new 1;push constant 100;call String.setInt 2",
                     "ERR19", 1}));

    // Row 1 of the cell (0, 0) is the low byte of word 16384 + 32; the glyph
    // of A there is .###. one pixel in: bits 2 to 4.
    INSTANTIATE_TEST_SUITE_P(Output, Library, testing::Values(
        library_case{"glyphs_in_cells", "push constant 65;call Output.printChar 1;pop temp 0;"
                     "push constant 65;call Output.printChar 1;pop temp 0", "AA", 0, {{16384 + 32, 0x1c1c}}},
        library_case{"other_codes", "push constant 200;call Output.printChar 1;pop temp 0;"
                     "push constant 128;call Output.printChar 1;pop temp 0;push constant 129;call Output.printChar 1",
                     "?\n\b", 0, {{16384 + 32, 0x7e}, {16384 + 32 * 9, 0x7e}, {16384 + 32 * 10, 0}}},
        library_case{"back_space_clears", "push constant 65;call Output.printChar 1;pop temp 0;"
                     "call Output.backSpace 0;pop temp 0;call Output.backSpace 0", "A\b\b", 0, {{16384 + 32, 0}}},
        library_case{"wraps_to_the_top", "push constant 22;push constant 63;call Output.moveCursor 2;pop temp 0;"
                     "push constant 66;call Output.printChar 1;pop temp 0;push constant 65;call Output.printChar 1",
                     "BA", 0, {{16384 + 32, 0x1c}, {16384 + 32 * (11 * 22 + 1) + 31, 0x1e00}}},
        library_case{"print_int", "push constant 32767;not" + print, "-32768"},
        library_case{"move_cursor_outside", "push constant 23;push constant 0;call Output.moveCursor 2", "ERR20", 1},
        library_case{"println_wraps", "push constant 22;push constant 5;call Output.moveCursor 2;pop temp 0;"
                     "call Output.println 0;pop temp 0;push constant 65;call Output.printChar 1", "\nA", 0,
                     {{16384 + 32, 0x1c}}}));

    INSTANTIATE_TEST_SUITE_P(Screen, Library, testing::Values(
        library_case{"pixel", "push constant 17;push constant 2;call Screen.drawPixel 2", "", 0, {{16384 + 65, 2}}},
        library_case{"white_clears", "push constant 0;push constant 0;push constant 15;push constant 0;"
                     "call Screen.drawLine 4;pop temp 0;push constant 0;call Screen.setColor 1;pop temp 0;"
                     "push constant 3;push constant 0;call Screen.drawPixel 2", "", 0, {{16384, -9}}},
        library_case{"diagonal_line", "push constant 0;push constant 0;push constant 2;push constant 1;"
                     "call Screen.drawLine 4", "", 0, {{16384, 1}, {16384 + 32, 7}}},
        library_case{"vertical_line_reversed", "push constant 4;push constant 2;push constant 4;push constant 0;"
                     "call Screen.drawLine 4", "", 0, {{16384, 16}, {16384 + 32, 16}, {16384 + 64, 16}}},
        library_case{"rectangle", "push constant 8;push constant 1;push constant 23;push constant 2;"
                     "call Screen.drawRectangle 4", "", 0, {{16384, 0}, {16416, -256}, {16417, 255}, {16449, 255}}},
        library_case{"circle", "push constant 10;push constant 10;push constant 1;call Screen.drawCircle 3", "", 0,
                     {{16384 + 32 * 9, 1024}, {16384 + 32 * 10, 3584}, {16384 + 32 * 11, 1024}}},
        library_case{"circle_clipped", "push constant 0;push constant 0;push constant 2;call Screen.drawCircle 3", "",
                     0, {{16384, 7}, {16384 + 64, 1}}},
        library_case{"clear", "push constant 0;push constant 0;push constant 511;push constant 255;"
                     "call Screen.drawRectangle 4;pop temp 0;call Screen.clearScreen 0", "", 0, {{24575, 0}}},
        library_case{"pixel_outside", "push constant 512;push constant 0;call Screen.drawPixel 2", "ERR7", 1},
        library_case{"line_outside", "push constant 0;push constant 0;push constant 0;push constant 256;"
                     "call Screen.drawLine 4", "ERR8", 1},
        library_case{"rectangle_reversed", "push constant 5;push constant 0;push constant 4;push constant 0;"
                     "call Screen.drawRectangle 4", "ERR9", 1},
        library_case{"circle_centre_outside", "push constant 1;neg;push constant 0;push constant 1;"
                     "call Screen.drawCircle 3", "ERR12", 1},
        library_case{"circle_too_large", "push constant 1;push constant 1;push constant 182;call Screen.drawCircle 3",
                     "ERR13", 1}));

    INSTANTIATE_TEST_SUITE_P(Keyboard, Library, testing::Values(
        library_case{"read_char_echoes", "call Keyboard.readChar 0" + print, "a97", 0, {}, "a"},
        library_case{"read_line", "push constant 1;call String.new 1;push constant 62;call String.appendChar 2;"
                     "call Keyboard.readLine 1;call Output.printString 1", ">ab\bc\nac", 0, {}, "\x7f" "ab\x08" "c\n"},
        library_case{"read_int_frees_its_line", "push constant 0;call String.new 1;call Keyboard.readInt 1" + print +
                     ";push constant 1;call Memory.alloc 1" + print, "-42\n-422052", 0, {}, "-42\n"},
        library_case{"input_ends", "call Keyboard.readChar 0" + print, "", 3, {}, "",
                     "vmrun: standard input ended while Keyboard.readChar waited for a key"},
        library_case{"no_key_held", "call Keyboard.keyPressed 0" + print, "0"}));

    INSTANTIATE_TEST_SUITE_P(Sys, Library, testing::Values(
        library_case{"halt_ends_the_run", "push constant 1" + print + "call Sys.halt 0;pop temp 0;push constant 2" + print,
                     "1"},
        library_case{"error_of_the_program", "push constant 99;call Sys.error 1", "ERR99", 1, {}, "",
                     "vmrun: Sys.error(99): a code of the program's own"},
        library_case{"wait_negative", "push constant 1;neg;call Sys.wait 1", "ERR1", 1},
        library_case{"wait_does_not_wait", "push constant 30000;call Sys.wait 1" + print, "0"}));

    // A function the files define replaces the library's everywhere, the
    // library's own calls included.
    TEST(Library, FilesReplaceLibraryFunctions)
    {
        const std::string main = main_of("push constant 3;call String.new 1" + print +
                                         "push constant 9;call Output.printChar 1;pop temp 0");
        const std::string memory = lines("function Memory.alloc 0;push constant 3000;return");
        const std::string output = lines("function Output.printChar 0;push argument 0;push constant 1;add;"
                                         "call Memory.alloc 1;return");
        const outcome o = run_files({{"Main.vm", main}, {"Memory.vm", memory}, {"Output.vm", output}});
        EXPECT_EQ(o.status, vm_runner::status_halted) << o.report;
        EXPECT_EQ(o.text, "");
        EXPECT_EQ(o.ram[3000], 3);
        EXPECT_EQ(o.ram[3001], 0);
    }

    // The program's own Sys.init replaces the start; Main.main is then not
    // needed, and returning from it ends the run.
    TEST(Library, OwnSysInit)
    {
        const outcome o = run_files({{"Sys.vm", lines("function Sys.init 0;push constant 7;call Output.printInt 1;"
                                                      "return")}});
        EXPECT_EQ(o.status, vm_runner::status_halted) << o.report;
        EXPECT_EQ(o.text, "7");
        // The start's call, function, push, call, return.
        EXPECT_EQ(o.steps, 5u);
    }
}
