// jack2xml and xml2jack together, and with the two passes.
#include "tests/support/process.h"
#include "tests/tools/xml2jack/random_jack.h"

#include <gtest/gtest.h>

using test_support::process_options;
using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    // The random classes are made by the grammar alone, so jack2xml reads
    // them without the checks of names, calls and returns.
    process_result run(const std::string &name, const std::string &input)
    {
        process_options options;
        options.input = input;
        if (name == "jack2xml")
            return run_process({program(name), "--no-checks"}, options);
        return run_process({program(name)}, options);
    }

    // Checks one Jack class against every promise of the two programs:
    // printing its tree and reading it back gives the same tree, the rebuild
    // pass changes nothing, and the folded tree prints as Jack that reads.
    void check_round_trip(const std::string &source)
    {
        const process_result tree = run("jack2xml", source);
        ASSERT_EQ(tree.exit_code, 0) << tree.err << source;

        const process_result jack = run("xml2jack", tree.out);
        ASSERT_EQ(jack.exit_code, 0) << jack.err;
        const process_result again = run("jack2xml", jack.out);
        ASSERT_EQ(again.exit_code, 0) << again.err << jack.out;
        EXPECT_EQ(again.out, tree.out) << source << "\n----\n" << jack.out;

        const process_result copied = run("treecopy", tree.out);
        EXPECT_EQ(copied.exit_code, 0);
        EXPECT_EQ(copied.out, tree.out);

        const process_result folded = run("exprfold", tree.out);
        ASSERT_EQ(folded.exit_code, 0) << folded.err;
        const process_result folded_jack = run("xml2jack", folded.out);
        ASSERT_EQ(folded_jack.exit_code, 0) << folded_jack.err;
        const process_result reread = run("jack2xml", folded_jack.out);
        EXPECT_EQ(reread.exit_code, 0) << reread.err << folded_jack.out;
    }

    TEST(RoundTrip, BundledExamples)
    {
        for (const char *example : {"examples/Square.jack", "examples/Fold.jack"})
        {
            SCOPED_TRACE(example);
            check_round_trip(test_support::source_file(example));
        }
    }

    TEST(RoundTrip, RandomClasses)
    {
        std::mt19937 rng(20261208);
        for (int i = 0; i < 300; i++)
        {
            SCOPED_TRACE("class " + std::to_string(i));
            check_round_trip(test_support::random_jack_class(rng, i));
            if (HasFatalFailure() || HasNonfatalFailure())
                return;
        }
    }

    // A small tree to edit: class C { function int f() { var int x; let x = 5; return x; } }
    std::string small_tree()
    {
        return run("jack2xml", "class C { function int f() { var int x; let x = 5; return x; } }").out;
    }

    std::string replaced(std::string text, const std::string &from, const std::string &to)
    {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    }

    TEST(Xml2jack, WritesTheSmallClass)
    {
        const process_result r = run("xml2jack", small_tree());
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, "class C {\n"
                         "    function int f() {\n"
                         "        var int x;\n"
                         "        let x = 5;\n"
                         "        return x;\n"
                         "    }\n"
                         "}\n");
    }

    TEST(Xml2jack, NegativeConstantsReadBackToTheirValues)
    {
        const struct
        {
            const char *constant;
            const char *written;
        } cases[] = {{"-7", "let x = -7;"}, {"-32768", "let x = ~32767;"}, {"0", "let x = 0;"}};
        for (const auto &c : cases)
        {
            const process_result r =
                run("xml2jack", replaced(small_tree(), "<ic>5</ic>", std::string("<ic>") + c.constant + "</ic>"));
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_NE(r.out.find(c.written), std::string::npos) << r.out;
        }
    }

    TEST(Xml2jack, AnnotationsBecomeComments)
    {
        const std::string tree =
            replaced(replaced(small_tree(), "<let>", "<let><annotation><ann-warning>w1</ann-warning>"
                                                     "<ann-comment>c1</ann-comment><ann-error>e1&#10;e2</ann-error>"
                                                     "</annotation>"),
                     "<int>", "<int><annotation><ann-comment>five</ann-comment><ann-error>inline</ann-error>"
                              "</annotation>");
        const process_result r = run("xml2jack", tree);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("        var int x;\n"
                             "        /** c1 */\n"
                             "        // warning: w1\n"
                             "        // error: e1\n"
                             "        // error: e2\n"
                             "        // error: inline\n"
                             "        let x = /** five */ 5;\n"),
                  std::string::npos)
            << r.out;
    }

    TEST(Xml2jack, RefusesWhatJackCannotSpellBeforeWritingAnything)
    {
        const std::string with_string = replaced(
            replaced(replaced(small_tree(), "<int>", "<string>"), "<ic>5</ic>", "<sc>a&quot;b</sc>"), "</int>",
            "</string>");
        const process_result r = run("xml2jack", with_string);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\n***** Fatal error!\nerror: xml2jack: a string constant holding a double quote or a "
                         "line break cannot be written in Jack: \"a\"b\"\n\n");
    }

    TEST(Xml2jack, FoldedProgramShowsTheFolding)
    {
        const process_result tree = run("jack2xml", test_support::source_file("examples/Fold.jack"));
        const process_result folded = run("exprfold", tree.out);
        const process_result r = run("xml2jack", folded.out);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("let a = 6;"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("let c = ~32767;"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("let b = 1 / 0;"), std::string::npos) << r.out;
    }
}
