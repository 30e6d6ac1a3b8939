// jack2xml through the real program: symbols, tree shape, documentation
// comments and every kind of error.
#include "tests/support/process.h"

#include <gtest/gtest.h>

using test_support::process_options;
using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    process_result jack2xml(const std::string &source, std::vector<std::string> args = {})
    {
        process_options options;
        options.input = source;
        args.insert(args.begin(), program("jack2xml"));
        return run_process(args, options);
    }

    // The tree text without the layout, so that elements can be matched.
    std::string compact(const std::string &xml)
    {
        std::string text;
        bool at_line_start = true;
        for (char c : xml)
        {
            if (c == '\n')
                at_line_start = true;
            else if (!(at_line_start && c == ' '))
            {
                at_line_start = false;
                text += c;
            }
        }
        return text;
    }

    // The text of the first element named tag at or after from; from moves
    // past it.
    std::string element_text(const std::string &text, const std::string &tag, size_t &from)
    {
        const std::string open = "<" + tag + ">";
        const size_t start = text.find(open, from) + open.size();
        const size_t end = text.find("</" + tag + ">", start);
        from = end;
        return text.substr(start, end - start);
    }

    // Every use of a variable in the tree, as "segment name offset type".
    std::vector<std::string> variable_uses(const std::string &xml)
    {
        std::vector<std::string> uses;
        const std::string text = compact(xml);
        for (size_t at = text.find("<var><var-segment>"); at != std::string::npos;
             at = text.find("<var><var-segment>", at))
        {
            std::string use = element_text(text, "var-segment", at);
            for (const char *field : {"var-name", "var-offset", "var-type"})
                use += " " + element_text(text, field, at);
            uses.push_back(use);
        }
        return uses;
    }

    TEST(Jack2xml, ResolvesEveryVariableThroughItsScope)
    {
        const process_result r = jack2xml(R"(class C {
    field int a;
    static int s;
    field boolean b;
    static C t;
    method int m(int p, int q) {
        var int l;
        var Point other;
        let l = a + b;
        let l = s + t;
        let l = p + q;
        return l;
    }
    function void f(int p) {
        var int a;
        let a = p;
        return;
    }
})");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(variable_uses(r.out),
                  (std::vector<std::string>{"local l 0 int", "this a 0 int", "this b 1 boolean", "local l 0 int",
                                            "static s 0 int", "static t 1 C", "local l 0 int", "argument p 1 int",
                                            "argument q 2 int", "local l 0 int", "local a 0 int",
                                            "argument p 0 int"}));
    }

    TEST(Jack2xml, CallsTakeTheirClassFromTheVariableOrTheName)
    {
        const process_result r = jack2xml(R"(class C {
    field Widget Output;
    method void m() {
        var Point other;
        do other.run(1, 2);
        do Output.printInt(3);
        do Keyboard.read();
        do run();
        return;
    }
})", {"--no-checks"});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::string text = compact(r.out);
        EXPECT_NE(text.find("<call-as-method><class-name>Point</class-name><var><var-segment>local</var-segment>"
                            "<var-name>other</var-name>"),
                  std::string::npos);
        EXPECT_NE(text.find("<call-as-method><class-name>Widget</class-name><var><var-segment>this</var-segment>"
                            "<var-name>Output</var-name>"),
                  std::string::npos);
        EXPECT_NE(text.find("<call-as-function><class-name>Keyboard</class-name><subr-call><subr-name>read"
                            "</subr-name><expr-list></expr-list>"),
                  std::string::npos);
        EXPECT_NE(text.find("<call-as-method><class-name>C</class-name><this></this><subr-call><subr-name>run"),
                  std::string::npos);
    }

    TEST(Jack2xml, DocumentationCommentsAnnotateTheirDeclarations)
    {
        const process_result r = jack2xml("/** the class */\nclass C {\n"
                                          "    /** two */ field int a, b;\n"
                                          "    /** cancelled */ // by this comment\n"
                                          "    static int s;\n"
                                          "    /**   */ static int empty;\n"
                                          "    /**\r\n     keep\r\n lines  */\n"
                                          "    function void f() { /** ignored */ return; }\n"
                                          "}\n");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::string text = compact(r.out);
        EXPECT_EQ(text.find("<class><annotation><ann-comment>the class</ann-comment></annotation>"), 0u);
        const std::string two = "<var-dec><annotation><ann-comment>two</ann-comment></annotation>";
        const size_t first = text.find(two);
        ASSERT_NE(first, std::string::npos);
        EXPECT_NE(text.find(two, first + 1), std::string::npos);
        EXPECT_EQ(text.find("cancelled"), std::string::npos);
        EXPECT_EQ(text.find("ignored"), std::string::npos);
        EXPECT_NE(text.find("<subr><function><annotation><ann-comment>keep&#10; lines</ann-comment>"),
                  std::string::npos);
        EXPECT_EQ(text.find("<var-dec><annotation><ann-comment></ann-comment>"), std::string::npos);
    }

    TEST(Jack2xml, ReadsAFileNamedOnTheCommandLine)
    {
        const process_result from_file = run_process({program("jack2xml"), JACK_SOURCE_DIR "/examples/Square.jack"});
        const process_result from_input = jack2xml(test_support::source_file("examples/Square.jack"));
        EXPECT_EQ(from_file.exit_code, 0);
        EXPECT_EQ(from_file.out, from_input.out);
        EXPECT_EQ(from_file.err, "");
    }

    // A class and every diagnostic jack2xml gives on it, whole: place,
    // severity, message, source line and caret, notes.
    struct error_case
    {
        const char *name;
        std::string source;
        std::string report;
        int exit_code = 1;
        std::vector<std::string> args = {};
    };

    void PrintTo(const error_case &c, std::ostream *os)
    {
        *os << c.name;
    }

    class Jack2xmlDiagnostics : public testing::TestWithParam<error_case>
    {
    };

    TEST_P(Jack2xmlDiagnostics, ReportEveryMistakeWithItsPlace)
    {
        const process_result r = jack2xml(GetParam().source, GetParam().args);
        EXPECT_EQ(r.exit_code, GetParam().exit_code);
        if (r.exit_code != 0)
        {
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(r.err, GetParam().report);
    }

    const std::string main_head = "class Main {\n    function void main() {\n        var int x;\n";
    const std::string main_tail = "        return;\n    }\n}\n";

    // The text of one report: "<stdin>:LINE:COL: LEVEL: MESSAGE", the line,
    // the caret.
    std::string at(int line, int column, const std::string &level, const std::string &message,
                   const std::string &source_line)
    {
        std::string caret;
        for (int i = 1; i < column; i++)
            caret += source_line[static_cast<size_t>(i - 1)] == '\t' ? '\t' : ' ';
        return "<stdin>:" + std::to_string(line) + ":" + std::to_string(column) + ": " + level + ": " + message +
               "\n" + source_line + "\n" + caret + "^\n";
    }

    INSTANTIATE_TEST_SUITE_P(EveryKind, Jack2xmlDiagnostics, testing::Values(
        // Reading the grammar.
        error_case{"MissingSemicolonAtTheLineEnd", main_head + "        let x = 5\n" + main_tail,
                   at(4, 18, "error", "expected \";\" after \"5\"", "        let x = 5")},
        error_case{"UnexpectedCharacter", "class Main { # }",
                   at(1, 14, "error", "expected a token but found the character \"#\"", "class Main { # }")},
        error_case{"HighByteOutsideStrings", "class M\xe9 { }",
                   at(1, 8, "error", "expected a token but found the byte 233", "class M\xe9 { }")},
        error_case{"StringCutByLineEnd", main_head + "        do Output.printString(\"abc\n" + main_tail,
                   at(4, 31, "error", "expected a closing double quote but found the end of the line",
                      "        do Output.printString(\"abc")},
        error_case{"StringCutByEndOfInput", "class Main { function void f() { do g(\"ab",
                   at(1, 39, "error", "expected a closing double quote but found end of input",
                      "class Main { function void f() { do g(\"ab")},
        error_case{"UnterminatedComment", "class Main {\n  /* never closed\n}",
                   at(2, 3, "error", "expected \"*/\" to close the comment but found end of input", "  /* never closed")},
        error_case{"EmptyString", main_head + "        do Output.printString(\"\");\n" + main_tail,
                   at(4, 31, "error", "expected a string constant with at least one character but found \"\"",
                      "        do Output.printString(\"\");")},
        error_case{"IntegerOutOfRange", main_head + "        let x = 32768;\n" + main_tail,
                   at(4, 17, "error", "expected an integer constant from 0 to 32767 but found 32768",
                      "        let x = 32768;")},
        error_case{"KeywordAsName", "class Main {\n\tfield int class;\n}",
                   at(2, 12, "error", "expected a variable name but found the keyword \"class\"", "\tfield int class;")},
        error_case{"TextAfterTheClass", "class Main { } // done\nx",
                   at(2, 1, "error", "expected end of input after the class but found \"x\"", "x")},
        error_case{"EmptyInput", "", at(1, 1, "error", "expected \"class\" but found end of input", "")},
        error_case{"CarriageReturnLines", "class Main {\r    field int x\r}",
                   at(2, 16, "error", "expected \";\" after \"x\"", "    field int x")},
        error_case{"ElseIf", main_head + "        if (x) { let x = 1; } else if (x) { let x = 2; }\n" + main_tail,
                   at(4, 36, "error", "expected \"{\" but found the keyword \"if\"",
                      "        if (x) { let x = 1; } else if (x) { let x = 2; }") +
                       at(4, 36, "note", "Jack has no \"else if\": write \"else { if ... }\"",
                          "        if (x) { let x = 1; } else if (x) { let x = 2; }")},
        error_case{"For", main_head + "        for (x = 0; x < 3; x = x + 1) { let x = 1; }\n" + main_tail,
                   at(4, 9, "error", "expected a statement or \"}\" but found \"for\"",
                      "        for (x = 0; x < 3; x = x + 1) { let x = 1; }") +
                       at(4, 9, "note", "Jack has no \"for\" statement: use \"while\"",
                          "        for (x = 0; x < 3; x = x + 1) { let x = 1; }")},
        // One report for each mistake, each where it was made, and none
        // that follows from another.
        error_case{"EveryMistakeAtOnce",
                   "class Main {\n    field int a b;\n    function void f() {\n        let = 1;\n"
                   "        do g(;\n        return;\n    }\n    method int g() { return 1 + ; }\n}\n",
                   at(2, 17, "error", "expected \";\" but found \"b\"", "    field int a b;") +
                       at(4, 13, "error", "expected a variable name but found \"=\"", "        let = 1;") +
                       at(5, 14, "error", "expected a term but found \";\"", "        do g(;") +
                       at(8, 33, "error", "expected a term but found \";\"", "    method int g() { return 1 + ; }")},
        error_case{"MissingBraceFoundByIndentation",
                   "class Main {\n    function void f() {\n        var int x;\n        while (x) {\n"
                   "            let x = 1;\n        let x = 2;\n        return;\n    }\n"
                   "    function void g() {\n        return;\n    }\n}\n",
                   at(5, 23, "error", "expected \"}\" after \";\"", "            let x = 1;") +
                       at(4, 19, "note", "to match this \"{\"", "        while (x) {")},
        // Names and objects.
        error_case{"UndeclaredVariable", main_head + "        let x = y;\n" + main_tail,
                   at(4, 17, "error", "\"y\" is not declared", "        let x = y;")},
        error_case{"Redeclaration", main_head + "        var int y, x;\n        let x = y;\n" + main_tail,
                   at(4, 20, "error", "\"x\" is declared twice in this scope", "        var int y, x;") +
                       at(3, 17, "note", "\"x\" is declared here", "        var int x;")},
        error_case{"FieldInAFunction", "class C {\n    field int n;\n    function int f() {\n        return n;\n    }\n}\n",
                   at(4, 16, "error", "the field \"n\" cannot be used in a function, which has no object",
                      "        return n;") +
                       at(2, 15, "note", "\"n\" is declared here", "    field int n;")},
        error_case{"ThisInAFunction", "class C {\n    function C f() {\n        return this;\n    }\n}\n",
                   at(3, 16, "error", "\"this\" cannot be used in a function, which has no object",
                      "        return this;")},
        error_case{"MethodCalledInAFunction",
                   "class C {\n    method void m() {\n        return;\n    }\n    function void f() {\n"
                   "        do m();\n        return;\n    }\n}\n",
                   at(6, 12, "error", "the method \"m\" cannot be called in a function, which has no object",
                      "        do m();") +
                       at(2, 17, "note", "C.m is declared here", "    method void m() {")},
        error_case{"FunctionCalledOnThis",
                   "class C {\n    function void g() {\n        return;\n    }\n    method void m() {\n"
                   "        do g();\n        return;\n    }\n}\n",
                   at(6, 12, "error", "C.g is a function: call it as C.g(...), not on an object", "        do g();") +
                       at(2, 19, "note", "C.g is declared here", "    function void g() {")},
        error_case{"TwoSubroutinesOfOneName",
                   "class C {\n    function void f() {\n        return;\n    }\n    method int f() {\n"
                   "        return 1;\n    }\n}\n",
                   at(5, 16, "error", "a subroutine named \"f\" is declared twice in the class C",
                      "    method int f() {") +
                       at(2, 19, "note", "\"f\" is declared here", "    function void f() {")},
        error_case{"CallOfTheLibrary",
                   "class C {\n    function void f() {\n        do Math.abs(1, 2);\n        do Output.print(1);\n"
                   "        return;\n    }\n}\n",
                   at(3, 12, "error", "Math.abs takes 1 argument but is given 2", "        do Math.abs(1, 2);") +
                       at(4, 12, "error", "the class Output has no subroutine \"print\"", "        do Output.print(1);")},
        // Returns and the flow of control.
        error_case{"ValueFromAVoidSubroutine", "class C {\n    method void m() {\n        return 1;\n    }\n}\n",
                   at(3, 9, "error", "the void method \"m\" cannot return a value", "        return 1;")},
        error_case{"NoValueFromAnIntFunction", "class C {\n    function int f() {\n        return;\n    }\n}\n",
                   at(3, 9, "error", "the function \"f\" must return a value of type int", "        return;")},
        error_case{"FallingOffTheEnd",
                   "class C {\n    function int f(int a) {\n        if (a) {\n            return 1;\n        }\n    }\n"
                   "    function int g() {\n        while (true) {\n        }\n    }\n"
                   "    function int h(int a) {\n        if (a) {\n            return 1;\n        } else {\n"
                   "            return 2;\n        }\n    }\n}\n",
                   at(6, 5, "error", "the end of the function \"f\" can be reached without a \"return\"", "    }")},
        // Warnings, -Werror and -w.
        error_case{"Warnings",
                   "class C {\n    field int n;\n    constructor C new() {\n        var int unused;\n"
                   "        let n = 1;\n        return null;\n    }\n    function int f() {\n        return 1;\n"
                   "        do Output.println();\n    }\n}\n",
                   at(4, 17, "warning", "the local variable \"unused\" is never used", "        var int unused;") +
                       at(7, 5, "warning", "the constructor \"new\" does not end with \"return this\"", "    }") +
                       at(10, 9, "warning", "this statement is never run: it follows a \"return\"",
                          "        do Output.println();"),
                   0},
        error_case{"WarningsAsErrors", main_head + main_tail,
                   at(3, 17, "error", "the local variable \"x\" is never used", "        var int x;"), 1, {"-Werror"}},
        error_case{"WarningsHidden", main_head + main_tail, "", 0, {"-w"}}));

    TEST(Jack2xml, LeadingZerosAndTheLargestConstant)
    {
        const process_result r = jack2xml(main_head + "        let x = 007 + 32767;\n        return;\n    }\n}\n");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::string text = compact(r.out);
        EXPECT_NE(text.find("<ic>7</ic>"), std::string::npos);
        EXPECT_NE(text.find("<ic>32767</ic>"), std::string::npos);
    }

    TEST(Jack2xml, MissingFileAndExtraArguments)
    {
        const process_result missing = run_process({program("jack2xml"), "/nonexistent/Main.jack"});
        EXPECT_EQ(missing.exit_code, 1);
        EXPECT_EQ(missing.err, "\n***** Fatal error!\nerror: jack2xml: cannot open /nonexistent/Main.jack: "
                               "No such file or directory\n\n");
        const process_result extra = run_process({program("jack2xml"), "a.jack", "b.jack"});
        EXPECT_EQ(extra.exit_code, 1);
        EXPECT_EQ(extra.err, "\n***** Fatal error!\nerror: usage: jack2xml [-Werror] [-w] [--no-checks] [FILE.jack]\n\n");
    }
}

namespace
{
    std::string nested_return(int parentheses)
    {
        return "class C { function int f() { return " + std::string(parentheses, '(') + "1" +
               std::string(parentheses, ')') + "; } }";
    }

    // Each parenthesis adds two levels to the tree (a term holding an
    // expression). Past the depth the tree form's reader accepts, jack2xml
    // refuses the class rather than write a tree no program can read.
    TEST(Jack2xml, NestingDeeperThanTheTreeFormAllowsIsRefused)
    {
        const process_result refused = jack2xml(nested_return(1244));
        EXPECT_EQ(refused.exit_code, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err.find("<stdin>:1:1281: error: expected nesting no deeper than 2500 "
                                   "tree levels but found \"1\"\n"),
                  0u);
    }

    TEST(Jack2xml, DeeplyNestedClassGoesThroughEveryProgram)
    {
        const process_result tree = jack2xml(nested_return(600));
        ASSERT_EQ(tree.exit_code, 0) << tree.err;
        for (const char *name : {"treecopy", "exprfold", "xml2jack"})
        {
            process_options options;
            options.input = tree.out;
            const process_result r = run_process({program(name)}, options);
            EXPECT_EQ(r.exit_code, 0) << name << r.err.substr(0, 500);
            EXPECT_FALSE(r.out.empty()) << name;
        }
    }
}

namespace
{
    // On a terminal the three words are coloured, unless NO_COLOR says not
    // to; a pipe never is.
    TEST(Jack2xml, ColoursOnlyOnATerminal)
    {
        const std::string source = "class C {\n    function int f() {\n        var int x;\n        return;\n    }\n}\n";
        const std::string plain = ": error: the function \"f\" must return a value of type int";
        const struct
        {
            bool terminal;
            const char *no_colour;
            bool coloured;
        } cases[] = {{true, nullptr, true}, {true, "1", false}, {true, "", true}, {false, nullptr, false}};
        for (const auto &c : cases)
        {
            process_options options;
            options.input = source;
            options.merge_stderr = true;
            options.output_to_pty = c.terminal;
            if (c.no_colour != nullptr)
                options.env.push_back({"NO_COLOR", c.no_colour});
            const process_result r = run_process({program("jack2xml")}, options);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.out.find(": \033[1;31merror\033[0m: the function") != std::string::npos, c.coloured) << r.out;
            EXPECT_EQ(r.out.find(": \033[1;35mwarning\033[0m: the local variable") != std::string::npos, c.coloured)
                << r.out;
            EXPECT_EQ(r.out.find(plain) != std::string::npos, !c.coloured) << r.out;
        }
    }

    // 60 mistakes: the first 50 are reported, then the run stops.
    TEST(Jack2xml, StopsAfterFiftyErrors)
    {
        std::string source = "class C {\n    function void f() {\n";
        for (int i = 0; i < 60; i++)
            source += "        let = " + std::to_string(i) + ";\n";
        const process_result r = jack2xml(source + "        return;\n    }\n}\n");
        EXPECT_EQ(r.exit_code, 1);
        size_t errors = 0;
        for (size_t at = r.err.find(": error: "); at != std::string::npos; at = r.err.find(": error: ", at + 1))
            errors++;
        EXPECT_EQ(errors, 51u);
        EXPECT_NE(r.err.find("<stdin>:52:13: error: expected a variable name but found \"=\""), std::string::npos);
        EXPECT_EQ(r.err.find("<stdin>:53:"), std::string::npos);
        const std::string last = "jack2xml: error: too many errors; stopping after 50\n";
        EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last);
    }
}
