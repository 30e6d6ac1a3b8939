#include "iobuffer/error_context.h"

#include <gtest/gtest.h>

using namespace Lum_IO_Buffers;

namespace
{
    struct sanitise_case
    {
        std::string input;
        std::string stored;
    };

    class ErrorContextSanitise : public testing::TestWithParam<sanitise_case>
    {
    };

    TEST_P(ErrorContextSanitise, StoresTheSanitisedText)
    {
        new_error_context(GetParam().input);
        EXPECT_EQ(pop_error_context(), GetParam().stored);
    }

    INSTANTIATE_TEST_SUITE_P(Bytes, ErrorContextSanitise, testing::Values(
        sanitise_case{"plain text ~!", "plain text ~!"},
        sanitise_case{"a\tb\nc\xff", "a\\tb\\nc\\uFFFF"},
        sanitise_case{std::string("\0\r", 2), "\\0\\r"},
        sanitise_case{"\x1b[0m", "\\u001B[0m"},
        sanitise_case{"\x01\x1f\x7f", "\\u0001\\u001F\\u007F"},
        sanitise_case{"caf\xe9\x80", "caf\\uFFE9\\uFF80"},
        sanitise_case{"back\\slash", "back\\slash"}));

    TEST(ErrorContext, PopReturnsTopAndEmptyStackGivesEmptyString)
    {
        new_error_context("first");
        push_error_context("second");
        EXPECT_EQ(depth_error_context(), 2);
        EXPECT_EQ(pop_error_context(), "second");
        EXPECT_EQ(pop_error_context(), "first");
        EXPECT_EQ(pop_error_context(), "");
        EXPECT_EQ(depth_error_context(), 0);
    }

    TEST(ErrorContext, NewContextReplacesTheWholeStack)
    {
        push_error_context("a");
        push_error_context("b");
        new_error_context("only");
        EXPECT_EQ(depth_error_context(), 1);
        EXPECT_EQ(construct_error_context(), "\n***** Fatal error!\n    0: only\nerror: ");
    }

    TEST(ErrorContext, PruneKeepsTheOldestEntries)
    {
        struct
        {
            int depth;
            int left;
            std::string top;
        } cases[] = {{2, 2, "1"}, {5, 5, "4"}, {9, 5, "4"}, {0, 0, ""}, {-3, 0, ""}};
        for (const auto &c : cases)
        {
            new_error_context("0");
            for (int i = 1; i < 5; i++)
                push_error_context(std::to_string(i));
            prune_error_context(c.depth);
            EXPECT_EQ(depth_error_context(), c.left) << "depth " << c.depth;
            EXPECT_EQ(pop_error_context(), c.top) << "depth " << c.depth;
        }
    }

    TEST(ErrorContext, RenderingOfAnEmptyStackIsHeaderAndLeadIn)
    {
        prune_error_context(0);
        EXPECT_EQ(construct_error_context(), "\n***** Fatal error!\nerror: ");
    }

    TEST(ErrorContext, RenderingRightAlignsIndicesInFiveColumns)
    {
        new_error_context("e0");
        for (int i = 1; i < 12; i++)
            push_error_context("e" + std::to_string(i));
        std::string expected = "\n***** Fatal error!\n";
        for (int i = 0; i < 12; i++)
            expected += (i < 10 ? "    " : "   ") + std::to_string(i) + ": e" + std::to_string(i) + "\n";
        expected += "error: ";
        EXPECT_EQ(construct_error_context(), expected);
    }

    TEST(ErrorContext, IndicesOfSixDigitsHaveNoPadding)
    {
        prune_error_context(0);
        for (int i = 0; i <= 100000; i++)
            push_error_context("x");
        const std::string rendering = construct_error_context();
        EXPECT_NE(rendering.find("\n99999: x\n100000: x\nerror: "), std::string::npos);
        prune_error_context(0);
    }
}
