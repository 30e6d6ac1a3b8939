// treecopy as a real process: its standard input, output, error and status.
#include "ast/nesting_limit.h"
#include "iobuffer/iobuffer.h"
#include "passes/treecopy/prune.h"
#include "tests/passes/pass_programs.h"
#include "tests/support/random_tree.h"
#include "tests/support/xml_pieces.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace test_support;

namespace
{
    const size_t output_volume_limit = 10485760;

    TEST(TreecopyProgram, WritesEveryBundledExampleBackByteForByte)
    {
        int examples = 0;
        for (const auto &entry : std::filesystem::directory_iterator(std::string(JACK_SOURCE_DIR) + "/examples"))
        {
            if (entry.path().extension() != ".xml")
                continue;
            SCOPED_TRACE(entry.path().string());
            examples++;
            const std::string input = source_file("examples/" + entry.path().filename().string());
            const process_result r = run_pass("treecopy", input, {"-n", "ignored"});
            EXPECT_TRUE(r.exited);
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, input);
        }
        EXPECT_GE(examples, 3);
    }

    // Random trees hold every kind of node, annotations everywhere and text
    // that needs escaping. Written with another indentation, they come back
    // as the writer writes them with the passes' step of 3.
    TEST(TreecopyProgram, WritesRandomTreesBackAsTheyWereWritten)
    {
        for (unsigned seed = 1; seed <= 40; seed++)
        {
            SCOPED_TRACE(seed);
            const std::string expected = random_class_xml(seed, 3);
            const std::string input = seed % 4 == 0 ? random_class_xml(seed, seed % 8 == 0 ? 0 : 1) : expected;
            const process_result r = run_pass("treecopy", input);
            ASSERT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, expected);
        }
    }

    // No tree the reader accepts makes the walk meet a node of the wrong
    // kind: a term that holds a statement, for one, is refused while reading.
    TEST(TreecopyProgram, RefusesMalformedInputWithStatus1)
    {
        const std::string head =
            "<class><class-name>M</class-name><class-var-decs></class-var-decs><class-var-decs></class-var-decs>"
            "<subr-decs><subr><function><vtype>void</vtype><name>f</name><param-list></param-list><subr-body>"
            "<var-decs></var-decs><statements><statement><return-expr><expr><term>";
        const std::vector<std::string> to_term = {
            "ast_parse_xml()", "parsing xml tag: class", "parsing xml tag: subr-decs", "parsing subr-decs index: 0",
            "parsing xml tag: subr", "parsing xml tag: function", "parsing xml tag: subr-body",
            "parsing xml tag: statements", "parsing statements index: 0", "parsing xml tag: statement",
            "parsing xml tag: return-expr", "parsing xml tag: expr", "parsing expr index: 0", "parsing xml tag: term"};
        std::vector<std::string> to_int = to_term;
        to_int.insert(to_int.end(), {"parsing xml tag: int"});
        const struct
        {
            std::string input;
            std::string report;
        } cases[] = {
            {"<?xml version=\"1.0\"?>\n<class>",
             fatal_report({"ast_parse_xml()", "parsing xml tag: class"}, "\nParse Error! missing open tag\n")},
            {head + "<return></return>",
             fatal_report(to_term, "\nParse Error! missing open tag <int>, <string>, <bool>, <null>, <this>, "
                                   "<expr>, <var>, <array-index>, <call-as-function>, <call-as-method> or "
                                   "<unary-op> found:return\n")},
            {head + "<int><ic>40000</ic></int>", fatal_report(to_int, "\nParse Error! number out of range: 40000\n")},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.input);
            const process_result r = run_pass("treecopy", c.input);
            EXPECT_TRUE(r.exited);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, c.report);
        }
    }

    // A tree too large to write: what was written before the volume limit
    // was passed, then the limit's message, in that order also when both
    // streams go to one file, with the same bytes as on separate streams.
    TEST(TreecopyProgram, OutputBeforeTheVolumeLimitPrecedesItsMessage)
    {
        const std::string example = source_file("examples/Everything.xml");
        const size_t first = example.find("      <subr>\n");
        const size_t last = example.find("   </subr-decs>\n");
        ASSERT_NE(first, std::string::npos);
        ASSERT_NE(last, std::string::npos);
        const std::string subroutines = example.substr(first, last - first);
        std::string input = example.substr(0, first);
        while (input.size() < output_volume_limit + 100000)
            input += subroutines;
        input += example.substr(last);

        const std::string message = "Output written to the output and errors buffers has exceeded 10MB - the "
                                    "largest output correct is less than half this size.\nYour program will now exit.\n";
        process_options merged;
        merged.input = input;
        merged.merge_stderr = true;
        const process_result together = run_process({program("treecopy")}, merged);
        const process_result apart = run_pass("treecopy", input);

        ASSERT_TRUE(apart.exited);
        EXPECT_EQ(apart.exit_code, 1);
        EXPECT_EQ(apart.err, message);
        EXPECT_GT(apart.out.size(), output_volume_limit);
        EXPECT_TRUE(input.compare(0, apart.out.size(), apart.out) == 0) << "the output is not the input's start";

        ASSERT_TRUE(together.exited);
        EXPECT_EQ(together.exit_code, 1);
        EXPECT_EQ(together.err, "");
        EXPECT_TRUE(together.out == apart.out + message) << "merged streams differ in order or bytes";
    }

    // At the volume limit both passes stop where a write per piece would
    // stop them: at the end of the piece that crosses the limit. Longer
    // class names move the limit through every kind of piece.
    TEST(PassPrograms, StopExactlyAtTheEndOfThePieceThatCrossesTheVolumeLimit)
    {
        const std::string example = source_file("examples/Main.xml");  // nothing in it folds
        const size_t first = example.find("      <subr>\n");
        const size_t last = example.find("   </subr-decs>\n");
        const std::string subroutine = example.substr(first, last - first);
        const std::string message = "Output written to the output and errors buffers has exceeded 10MB - the "
                                    "largest output correct is less than half this size.\nYour program will now exit.\n";
        for (size_t shift : {0, 7, 19, 41, 83, 151, 263, 419, 601, 877, 1103})
        {
            std::string input = example.substr(0, first);
            input.replace(input.find("Main"), 4, "Main" + std::string(shift, 'x'));
            while (input.size() < output_volume_limit + 5000)
                input += subroutine;
            input += example.substr(last);
            const std::string expected = input.substr(0, test_support::xml_cut_at_limit(input, output_volume_limit));
            for (const char *pass : {"treecopy", "exprfold"})
            {
                SCOPED_TRACE(std::string(pass) + ", class name " + std::to_string(shift + 4) + " bytes");
                const process_result r = run_pass(pass, input);
                ASSERT_TRUE(r.exited);
                EXPECT_EQ(r.exit_code, 1);
                EXPECT_EQ(r.err, message);
                EXPECT_EQ(r.out.size(), expected.size());
                EXPECT_TRUE(r.out == expected) << "the output is not the input up to the crossing piece";
            }
        }
    }

    // The walk and the reader share the recursion depth; the writer's lines,
    // indented 3 spaces a level, grow with the square of the depth.
    TEST(TreecopyProgram, CopiesTreesNestedToTheReadersLimit)
    {
        const int limit = Jack_Compiler::xml_nesting_limit;

        // The deepest tree whose text fits under the output volume limit
        // comes back byte for byte.
        int fitting = limit;
        while (nested_class_xml(fitting, 3).size() > output_volume_limit)
            fitting -= 25;
        const std::string fits = nested_class_xml(fitting, 3);
        const process_result copied = run_pass("treecopy", fits);
        EXPECT_EQ(copied.exit_code, 0);
        EXPECT_EQ(copied.err, "");
        EXPECT_TRUE(copied.out == fits);

        // At the limit itself the walk completes, and writing it ends at the
        // output volume limit rather than in a crash.
        if (nested_class_xml(limit, 3).size() > output_volume_limit)
        {
            const process_result r = run_pass("treecopy", nested_class_xml(limit, 0));
            EXPECT_TRUE(r.exited);
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.err, "Output written to the output and errors buffers has exceeded 10MB - the largest output "
                             "correct is less than half this size.\nYour program will now exit.\n");
        }

        // So the rebuilt trees at the limit are written without indentation.
        std::string whiles;
        const int loops = (limit - 12) / 3;  // each while is three levels
        for (int i = 0; i < loops; i++)
            whiles += "while (x) { ";
        whiles += "return x;" + std::string(static_cast<size_t>(loops), '}');
        for (const std::string &input :
             {nested_class_xml(limit, 0), class_xml("class Deep { function void f() { " + whiles + " } }", 0)})
        {
            ASSERT_GE(xml_depth(input), limit - 2);
            ASSERT_LE(xml_depth(input), limit);
            const process_result r = run_in_child(
                [] {
                    Jack_Compiler::ast_print_as_xml(Jack_Compiler::prune_class(Jack_Compiler::ast_parse_xml()), 0);
                    Lum_IO_Buffers::print_output();
                },
                input);
            EXPECT_TRUE(r.exited);
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(r.out == input);
        }
    }
}
