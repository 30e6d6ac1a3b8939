// Writing a tree, reading it back and writing it again gives the same bytes:
// for the bundled examples and for seeded random trees, for step widths 3, 1
// and 0. The reader runs as a real process (xml_echo).
#include "tests/support/random_tree.h"

#include <gtest/gtest.h>

using test_support::process_result;
using test_support::random_class_xml;
using test_support::run_process;
using test_support::source_file;

namespace
{
    std::string echoed(const std::string &input, int step_width)
    {
        test_support::process_options options;
        options.input = input;
        const process_result r = run_process({XML_ECHO, std::to_string(step_width)}, options);
        EXPECT_TRUE(r.exited && r.exit_code == 0) << r.err;
        return r.out;
    }

    const int step_widths[] = {3, 1, 0};
}

TEST(XmlRoundTrip, BundledExamples)
{
    for (const char *example : {"examples/Main.xml", "examples/Everything.xml"})
    {
        SCOPED_TRACE(example);
        const std::string step3 = source_file(example);
        EXPECT_EQ(echoed(step3, 3), step3);
        for (int width : step_widths)
        {
            SCOPED_TRACE(width);
            const std::string text = echoed(step3, width);
            EXPECT_EQ(echoed(text, width), text);
            // Reading does not depend on the layout it is given.
            EXPECT_EQ(echoed(text, 3), step3);
        }
    }
}

// Seeds in blocks, so that the blocks can run side by side.
class XmlRoundTripRandom : public testing::TestWithParam<unsigned>
{
};

TEST_P(XmlRoundTripRandom, RandomTrees)
{
    const unsigned per_block = 25;
    for (unsigned seed = GetParam() * per_block; seed < (GetParam() + 1) * per_block; seed++)
        for (int width : step_widths)
        {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", step width " + std::to_string(width));
            const std::string text = random_class_xml(seed, width);
            EXPECT_EQ(echoed(text, width), text);
        }
}

INSTANTIATE_TEST_SUITE_P(Seeds, XmlRoundTripRandom, testing::Range(0u, 12u));

// The round trips above prove something only if the random trees hold what
// the form can express.
TEST(XmlRoundTrip, RandomTreesHoldEveryElementAndTroublesomeText)
{
    std::string all;
    for (unsigned seed = 0; seed < 60; seed++)
        all += random_class_xml(seed, 0);
    for (const char *element :
         {"class", "class-var-decs", "var-dec", "subr-decs", "subr", "constructor", "function", "method", "param-list",
          "subr-body", "var-decs", "statements", "statement", "let", "let-array", "if", "if-else", "while", "do",
          "return", "return-expr", "expr-list", "expr", "term", "int", "string", "bool", "null", "this", "unary-op",
          "var", "array-index", "call-as-function", "call-as-method", "subr-call", "op", "annotation", "ann-comment",
          "ann-warning", "ann-error"})
        EXPECT_NE(all.find(std::string("<") + element + ">"), std::string::npos) << element;
    for (const char *text : {"&lt;", "&gt;", "&amp;", "&quot;", "&apos;", "&#0;", "&#9;", "&#10;", "&#13;", "&#127;",
                             "<tf>true</tf>", "<tf>false</tf>", "<ic>-32768</ic>", "<ic>32767</ic>",
                             "<var-offset>0</var-offset>", "<var-offset>32767</var-offset>",
                             "</class-name><this></this><subr-call>", "</class-name><var><var-segment>"})
        EXPECT_NE(all.find(text), std::string::npos) << text;
    size_t high = 0;
    for (char c : all)
        high += static_cast<unsigned char>(c) >= 128;
    EXPECT_GT(high, 100u);
}
