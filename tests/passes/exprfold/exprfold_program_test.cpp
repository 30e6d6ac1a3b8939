// exprfold as a real process: its standard input, output, error and status.
#include "ast/nesting_limit.h"
#include "iobuffer/iobuffer.h"
#include "passes/exprfold/copy_tree.h"
#include "tests/passes/pass_programs.h"
#include "tests/support/random_tree.h"

#include <gtest/gtest.h>

using namespace test_support;

namespace
{
    const char *const volume_report =
        "Output written to the output and errors buffers has exceeded 10MB - the largest output correct is less "
        "than half this size.\nYour program will now exit.\n";

    TEST(ExprfoldProgram, FoldsTheBundledExample)
    {
        const process_result r = run_pass("exprfold", source_file("examples/fold.xml"));
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, source_file("tests/passes/exprfold/fold.expected.xml"));
    }

    TEST(ExprfoldProgram, WritesATreeWithNothingToFoldAsItCame)
    {
        const std::string input = source_file("examples/Main.xml");
        const process_result r = run_pass("exprfold", input, {"--verbose", "examples/fold.xml"});
        EXPECT_EQ(r.exit_code, 0) << "arguments are ignored";
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, input);
    }

    // Whatever exprfold writes is a tree in the form the reader accepts and
    // the writer would write: treecopy hands it back byte for byte.
    TEST(ExprfoldProgram, WritesTreesThatReadBack)
    {
        for (unsigned seed = 1; seed <= 30; seed++)
        {
            SCOPED_TRACE(seed);
            const process_result folded = run_pass("exprfold", random_class_xml(seed, 3));
            ASSERT_EQ(folded.exit_code, 0);
            ASSERT_EQ(folded.err, "");
            const process_result copied = run_pass("treecopy", folded.out);
            ASSERT_EQ(copied.exit_code, 0) << copied.err;
            EXPECT_EQ(copied.out, folded.out);
        }
    }

    // No tree the reader accepts makes the walk meet a node of the wrong
    // kind: a "do" that holds no call, for one, is refused while reading.
    TEST(ExprfoldProgram, RefusesMalformedInputWithStatus1)
    {
        const std::string do_without_call =
            "<class><class-name>M</class-name><class-var-decs></class-var-decs><class-var-decs></class-var-decs>"
            "<subr-decs><subr><function><vtype>void</vtype><name>f</name><param-list></param-list><subr-body>"
            "<var-decs></var-decs><statements><statement><do><int><ic>1</ic></int></do></statement></statements>"
            "</subr-body></function></subr></subr-decs></class>";
        const struct
        {
            std::string input;
            std::string report;
        } cases[] = {
            {"", fatal_report({"ast_parse_xml()", "parsing xml tag: class"}, "\nParse Error! missing open tag\n")},
            {"<class>\n<class-name>Main</class-name>\n",
             fatal_report({"ast_parse_xml()", "parsing xml tag: class", "parsing xml tag: class-var-decs"},
                          "\nParse Error! missing open tag\n")},
            {do_without_call,
             fatal_report({"ast_parse_xml()", "parsing xml tag: class", "parsing xml tag: subr-decs",
                           "parsing subr-decs index: 0", "parsing xml tag: subr", "parsing xml tag: function",
                           "parsing xml tag: subr-body", "parsing xml tag: statements", "parsing statements index: 0",
                           "parsing xml tag: statement", "parsing xml tag: do"},
                          "\nParse Error! missing open tag <call-as-function> or <call-as-method> found:int\n")},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.input);
            const process_result r = run_pass("exprfold", c.input);
            EXPECT_TRUE(r.exited);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, c.report);
        }
    }

    // Trees as deep as the reader takes. Folded, they shrink to a few lines.
    TEST(ExprfoldProgram, FoldsTreesNestedToTheReadersLimit)
    {
        const int limit = Jack_Compiler::xml_nesting_limit;
        const auto deep_class = [](const std::string &expr) {
            return "class Deep { function int deep() { return " + expr + "; } }";
        };
        // From the term under "return", each parenthesis or unary operator
        // is two levels; the base is 10 levels, and a variable or an integer
        // two more. Pairs of - and ~ each add 1 to what they apply to.
        const int chain = (limit - 12) / 2;
        const int pairs = chain / 2;
        std::string negations, sums = "x";
        for (int i = 0; i < pairs; i++)
            negations += "-~";
        for (int i = 0; i < chain; i++)
            sums = "(" + sums + " + 0)";
        const struct
        {
            std::string input;
            std::string output;
        } cases[] = {
            {nested_class_xml(limit, 0), nested_class_xml(12, 3)},
            {class_xml(deep_class(negations + "5"), 0), class_xml(deep_class(std::to_string(5 + pairs)), 3)},
            {class_xml(deep_class(negations + "x * 0"), 0), class_xml(deep_class("0"), 3)},
            {class_xml(deep_class(sums), 0), class_xml(deep_class("x"), 3)},
        };
        for (const auto &c : cases)
        {
            ASSERT_GE(xml_depth(c.input), limit - 2);
            ASSERT_LE(xml_depth(c.input), limit);
            const process_result r = run_pass("exprfold", c.input);
            EXPECT_TRUE(r.exited);
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, c.output);
        }

        // A tree that does not shrink cannot be written with the indentation
        // of the passes at this depth: the output volume limit ends the run.
        const process_result unfolded = run_pass("exprfold", class_xml(deep_class(negations + "x"), 0));
        EXPECT_TRUE(unfolded.exited);
        EXPECT_EQ(unfolded.exit_code, 1);
        EXPECT_EQ(unfolded.err, volume_report);

        // Statements nested as deeply: the one change at the bottom rebuilds
        // the whole path (written here without indentation).
        std::string whiles;
        const int loops = (limit - 12) / 3;  // each while is three levels
        for (int i = 0; i < loops; i++)
            whiles += "while (x) { ";
        const std::string close(static_cast<size_t>(loops), '}');
        const auto nested_class = [&](const std::string &last) {
            return "class Deep { function int deep() { " + whiles + last + close + " } }";
        };
        const std::string nested = class_xml(nested_class("return 1 + 1;"), 0);
        ASSERT_GE(xml_depth(nested), limit - 2);
        ASSERT_LE(xml_depth(nested), limit);
        const process_result walked = run_in_child(
            [] {
                Jack_Compiler::ast_print_as_xml(Jack_Compiler::copy_class(Jack_Compiler::ast_parse_xml()), 0);
                Lum_IO_Buffers::print_output();
            },
            nested);
        EXPECT_EQ(walked.exit_code, 0);
        EXPECT_EQ(walked.err, "");
        EXPECT_TRUE(walked.out == class_xml(nested_class("return 2;"), 0));

        // One level more is refused by the reader before the pass starts.
        const process_result refused = run_pass("exprfold", nested_class_xml(limit + 1, 0));
        EXPECT_EQ(refused.exit_code, 1);
        EXPECT_EQ(refused.out, "");
        const std::string tail = "Parse Error! nesting too deep\n\n";
        ASSERT_GE(refused.err.size(), tail.size());
        EXPECT_EQ(refused.err.substr(refused.err.size() - tail.size()), tail);
    }
}
