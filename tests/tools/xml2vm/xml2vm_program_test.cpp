// xml2vm as a program: every tree that has no code, made by changing one
// value of a tree jack2xml wrote, is refused on standard error with exit
// status 1 and nothing on standard output. (Offsets and integer constants
// beyond 16 bits, and nodes of the wrong kind, the reader refuses itself;
// the code writer's own refusal of them is tested on constructed trees.)
#include "tests/support/fatal_report.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

using test_support::fatal_report;
using test_support::process_options;
using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    process_result run(const std::string &name, const std::string &input, std::vector<std::string> args = {})
    {
        process_options options;
        options.input = input;
        args.insert(args.begin(), program(name));
        return run_process(args, options);
    }

    const char *const source = "class Main {\n"
                               "    field int a;\n"
                               "    function int main(int x) {\n"
                               "        var int y;\n"
                               "        let y = x + 1;\n"
                               "        do Output.printString(\"s\");\n"
                               "        return -y;\n"
                               "    }\n"
                               "    constructor Main new() { do f(); return this; }\n"
                               "}\n";

    std::string replaced(std::string text, const std::string &from, const std::string &to)
    {
        size_t at = 0;
        bool found = false;
        while ((at = text.find(from, at)) != std::string::npos)
        {
            text.replace(at, from.size(), to);
            at += to.size();
            found = true;
        }
        EXPECT_TRUE(found) << from;
        return text;
    }

    // The arguments of a call, n of them, one line each.
    std::string arguments(int n)
    {
        std::string all;
        for (int i = 0; i < n; i++)
            all += "<expr>\n<term>\n<int>\n<ic>1</ic>\n</int>\n</term>\n</expr>\n";
        return all;
    }

    TEST(Xml2vmProgram, RefusesTreesThatHaveNoCode)
    {
        const process_result tree = run("jack2xml", source, {"--no-checks"});  // its calls need not resolve
        ASSERT_EQ(tree.exit_code, 0) << tree.err;
        const struct
        {
            const char *from;
            std::string to;
            const char *message;
        } cases[] = {
            {"<i-op>+</i-op>", "<i-op>%</i-op>", "the operator \"%\" in \"Main.main\""},
            {"<op>-</op>", "<op>!</op>", "the unary operator \"!\" in \"Main.main\""},
            {"<var-segment>local</var-segment>", "<var-segment>pointer</var-segment>",
             "the segment \"pointer\" of the variable \"y\" in \"Main.main\""},
            {"<var-offset>0</var-offset>\n                     <var-type>int</var-type>",
             "<var-offset>32767</var-offset>\n                     <var-type>int</var-type>",
             "the local variable offset 32767 in \"Main.main\""},
            {"<var-name>a</var-name>\n         <var-offset>0</var-offset>",
             "<var-name>a</var-name>\n         <var-offset>32767</var-offset>",
             "the field offset 32767 in \"Main.new\""},
            {"<sc>s</sc>", "<sc>" + std::string(32768, 's') + "</sc>",
             "a string constant of 32768 bytes in \"Main.main\""},
            {"<subr-name>printString</subr-name>", "<subr-name>print&#10;pop</subr-name>",
             "the subroutine name \"print\\x0apop\" in \"Main.main\""},
            {"<name>main</name>", "<name>9main</name>", "the subroutine name \"9main\" in class \"Main\""},
            {"<class-name>Main</class-name>", "<class-name>Ma in</class-name>",
             "the class name \"Ma in\" in class \"Ma in\""},
            // A call's argument count is a VM word too; on this, the object
            // is one of them.
            {"<subr-name>printString</subr-name>\n                              <expr-list>\n",
             "<subr-name>printString</subr-name>\n<expr-list>\n" + arguments(32767),
             "a call of \"Output.printString\" with 32768 arguments in \"Main.main\""},
            {"<subr-name>f</subr-name>\n                              <expr-list>\n",
             "<subr-name>f</subr-name>\n<expr-list>\n" + arguments(32767),
             "a call of \"Main.f\" with 32768 arguments in \"Main.new\""},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.message);
            const process_result refused = run("xml2vm", replaced(tree.out, c.from, c.to));
            EXPECT_EQ(refused.exit_code, 1);
            EXPECT_EQ(refused.out, "");
            EXPECT_EQ(refused.err, fatal_report({}, std::string("xml2vm: no code for ") + c.message));
        }
    }

    // A malformed tree gets the tree reader's report, as in every program
    // that reads trees.
    TEST(Xml2vmProgram, MalformedTreeGetsTheReadersReport)
    {
        const process_result refused = run("xml2vm", "<class>");
        EXPECT_EQ(refused.exit_code, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_NE(refused.err.find("Parse Error!"), std::string::npos) << refused.err;
    }
}
