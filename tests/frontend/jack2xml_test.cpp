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
    process_result jack2xml(const std::string &source)
    {
        process_options options;
        options.input = source;
        return run_process({program("jack2xml")}, options);
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
})");
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

    struct error_case
    {
        const char *name;
        std::string source;
        std::string message;  // the report's message, position to caret
    };

    void PrintTo(const error_case &c, std::ostream *os)
    {
        *os << c.name;
    }

    class Jack2xmlErrors : public testing::TestWithParam<error_case>
    {
    };

    TEST_P(Jack2xmlErrors, ReportPositionCaretAndWhatWasExpected)
    {
        const process_result r = jack2xml(GetParam().source);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\n***** Fatal error!\nerror: " + GetParam().message + "\n\n");
    }

    const std::string main_head = "class Main {\n    function void main() {\n        var int x;\n";

    INSTANTIATE_TEST_SUITE_P(EveryKind, Jack2xmlErrors, testing::Values(
        error_case{"Syntax", main_head + "        let x = 5\n        return;\n    }\n}\n",
                   "<stdin>:5:9: expected \";\" but found the keyword \"return\"\n        return;\n        ^"},
        error_case{"UnexpectedCharacter", "class Main { # }",
                   "<stdin>:1:14: expected a token but found the character \"#\"\nclass Main { # }\n             ^"},
        error_case{"HighByteOutsideStrings", "class M\xe9 { }",
                   "<stdin>:1:8: expected a token but found the byte 233\nclass M\xe9 { }\n       ^"},
        error_case{"StringCutByLineEnd", main_head + "        do f(\"abc\n",
                   "<stdin>:4:14: expected a closing double quote but found the end of the line\n"
                   "        do f(\"abc\n             ^"},
        error_case{"StringCutByEndOfInput", "class Main { function void f() { do g(\"ab",
                   "<stdin>:1:39: expected a closing double quote but found end of input\n"
                   "class Main { function void f() { do g(\"ab\n                                      ^"},
        error_case{"UnterminatedComment", "class Main {\n  /* never closed\n}",
                   "<stdin>:2:3: expected \"*/\" to close the comment but found end of input\n"
                   "  /* never closed\n  ^"},
        error_case{"EmptyString", main_head + "        do f(\"\");\n",
                   "<stdin>:4:14: expected a string constant with at least one character but found \"\"\n"
                   "        do f(\"\");\n             ^"},
        error_case{"UndeclaredVariable", main_head + "        let y = 1;\n",
                   "<stdin>:4:13: expected a declared variable but found \"y\"\n        let y = 1;\n            ^"},
        error_case{"IntegerOutOfRange", main_head + "        let x = 32768;\n",
                   "<stdin>:4:17: expected an integer constant from 0 to 32767 but found 32768\n"
                   "        let x = 32768;\n                ^"},
        error_case{"Redeclaration", main_head + "        var int y, x;\n",
                   "<stdin>:4:20: expected a name not yet declared in this scope but found \"x\", declared already "
                   "at line 3\n        var int y, x;\n                   ^"},
        error_case{"KeywordAsName", "class Main {\n\tfield int class;\n}",
                   "<stdin>:2:12: expected a variable name but found the keyword \"class\"\n"
                   "\tfield int class;\n\t          ^"},
        error_case{"TextAfterTheClass", "class Main { } // done\nx",
                   "<stdin>:2:1: expected end of input after the class but found \"x\"\nx\n^"},
        error_case{"EmptyInput", "",
                   "<stdin>:1:1: expected \"class\" but found end of input\n\n^"},
        error_case{"CarriageReturnLines", "class Main {\r    field int x\r}",
                   "<stdin>:3:1: expected \";\" but found \"}\"\n}\n^"}));

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
        EXPECT_EQ(extra.err, "\n***** Fatal error!\nerror: usage: jack2xml [file.jack]\n\n");
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
        EXPECT_EQ(refused.err.find("\n***** Fatal error!\nerror: <stdin>:1:1281: expected nesting no deeper than 2500 "
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
