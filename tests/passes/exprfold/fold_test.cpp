#include "passes/exprfold/fold.h"
#include "tests/passes/notation.h"
#include "tests/support/fatal_report.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace Jack_Compiler;
using test_support::parse_expr;
using test_support::print_expr;

namespace
{
    struct fold_case
    {
        const char *input;
        const char *output;
    };

    std::ostream &operator<<(std::ostream &os, const fold_case &c)
    {
        return os << "\"" << c.input << "\" -> \"" << c.output << "\"";
    }

    class Folding : public testing::TestWithParam<fold_case>
    {
    };

    // Unary operators print with a blank after them ("- 5"), so a folded
    // constant ("-5") is told apart from one left unfolded.
    const fold_case fold_cases[] = {
        // Constant arithmetic, wrapping modulo 2^16.
        {"1 + 2", "3"},
        {"32767 + 1", "-32768"},
        {"-32767 - 2", "32767"},
        {"200 * 200", "-25536"},
        {"32767 * 2", "-2"},
        {"(0 - 7) / 2", "-3"},
        {"7 / -2", "-3"},
        {"(-32767 - 1) / -1", "-32768"},
        {"(-32767 - 1) * -1", "-32768"},
        {"65537 + 0", "1"},
        {"40000 - 0", "-25536"},
        // Division by zero is left for run time, and nothing absorbs it.
        {"7 / 0", "7 / 0"},
        {"x / 0", "x / 0"},
        {"(7 / 0) * 0", "(7 / 0) * 0"},
        {"0 * (7 / 0)", "0 * (7 / 0)"},
        {"(x / 0) & false", "(x / 0) & false"},
        {"(1 - 1) / (2 - 2)", "0 / 0"},
        // Only single-operator expressions fold.
        {"1 + 2 + 3", "1 + 2 + 3"},
        {"(1 + 2) + 3", "6"},
        {"1 + (2 + 3)", "6"},
        {"(1 + 2) * 3 + x", "3 * 3 + x"},
        {"x + (1 + 2)", "x + 3"},
        // Identity operands.
        {"x + 0", "x"},
        {"0 + x", "x"},
        {"x - 0", "x"},
        {"x * 1", "x"},
        {"1 * x", "x"},
        {"x / 1", "x"},
        {"f() + 0", "f()"},
        {"0 + f()", "f()"},
        {"0 - x", "0 - x"},
        {"1 / x", "1 / x"},
        {"x & true", "x & true"},
        {"x | false", "x | false"},
        // Absorbing operands, unless the other side is impure.
        {"x * 0", "0"},
        {"0 * x", "0"},
        {"a[i] * 0", "0"},
        {"x & false", "false"},
        {"false & x", "false"},
        {"x | true", "true"},
        {"true | x", "true"},
        {"f() * 0", "f() * 0"},
        {"0 * f()", "0 * f()"},
        {"false & g()", "false & g()"},
        {"o.m() | true", "o.m() | true"},
        {"a[f()] * 0", "a[f()] * 0"},
        {"(- f()) * 0", "- f() * 0"},
        // The same plain variable on both sides.
        {"x - x", "0"},
        {"x = x", "true"},
        {"x < x", "false"},
        {"x > x", "false"},
        {"x & x", "x"},
        {"x | x", "x"},
        {"x + x", "x + x"},
        {"x * x", "x * x"},
        {"x / x", "x / x"},
        {"x - y", "x - y"},
        {"x = y", "x = y"},
        {"a[i] - a[i]", "a[i] - a[i]"},
        {"f() - f()", "f() - f()"},
        // Comparisons and logic on constants, signed.
        {"1 < 2", "true"},
        {"-1 < 1", "true"},
        {"(-32767 - 1) < 32767", "true"},
        {"2 > 1", "true"},
        {"2 = 3", "false"},
        {"true = -1", "true"},
        {"true & false", "false"},
        {"5 & 3", "1"},
        {"5 | 3", "7"},
        {"0 | 0", "false"},
        {"x < 1", "x < 1"},
        {"1 < 1", "false"},
        // Unary operators.
        {"-5", "-5"},
        {"-0", "0"},
        {"-true", "1"},
        {"~0", "true"},
        {"~true", "false"},
        {"~5", "-6"},
        {"~-1", "false"},
        {"- -5", "5"},
        {"- -x", "x"},
        {"~ ~x", "x"},
        {"- - -x", "- x"},
        {"-~x", "- ~ x"},
        {"-(x)", "- x"},
        {"-(-x)", "x"},
        {"-(1 + 2)", "-3"},
        {"~(5 & 3)", "-2"},
        {"- f()", "- f()"},
        // Parentheses.
        {"(x)", "x"},
        {"((x))", "x"},
        {"(a + b)", "a + b"},
        {"((a + b))", "a + b"},
        {"(a + b) + 0", "(a + b)"},
        {"(a + b) * c", "(a + b) * c"},
        {"((a)) + b", "a + b"},
        // Values that are never constants.
        {"null = null", "null = null"},
        {"\"a\" = \"a\"", "\"a\" = \"a\""},
        {"this = this", "this = this"},
        // Inside calls and array indices; the call stays impure.
        {"f(1 + 2)", "f(3)"},
        {"a[1 + 2]", "a[3]"},
        {"f(1 + 2) * 0", "f(3) * 0"},
        {"o.m(2 * 3, x + 0)", "o.m(6, x)"},
        {"Math.max((y), - -z)", "Math.max(y, z)"},
        // An operator is known by its first byte alone; others never fold.
        {"1 % 2", "1 % 2"},
        {"x ^ 0", "x ^ 0"},
    };

    TEST_P(Folding, FoldsAsTheRulesSay)
    {
        const ast input = parse_expr(GetParam().input);
        const ast output = copy_expr(input);
        EXPECT_EQ(print_expr(output), GetParam().output);
        // An expression that does not change is handed back as it is, except
        // that one of two or more operators is always rebuilt.
        if (print_expr(input) == GetParam().output)
        {
            if (size_of_expr(input) > 3)
            {
                EXPECT_NE(output, input);
                EXPECT_EQ(get_ann(output), get_ann(input));
            }
            else
                EXPECT_EQ(output, input);
        }
    }

    INSTANTIATE_TEST_SUITE_P(Table, Folding, testing::ValuesIn(fold_cases));

    ast int_term(int value)
    {
        return create_term(create_int(value));
    }

    TEST(FoldOperators, OnlyTheFirstByteOfTheOperatorCounts)
    {
        const struct
        {
            const char *op;
            const char *output;
        } cases[] = {
            {"+", "7"}, {"+=", "7"}, {"++", "7"}, {"-x", "3"}, {"<=", "false"}, {"", "5  2"}, {"plus", "5 plus 2"},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.op);
            EXPECT_EQ(print_expr(copy_expr(create_expr(int_term(5), create_infix_op(c.op), int_term(2)))), c.output);
        }
    }

    TEST(FoldClassify, IntegersAreTakenModulo65536)
    {
        const struct
        {
            int constant;
            int value;
        } cases[] = {
            {0, 0}, {32767, 32767}, {32768, -32768}, {65535, -1}, {65536, 0}, {65537, 1}, {-1, -1},
            {-32768, -32768}, {-32769, 32767}, {-65536, 0}, {INT_MAX, -1}, {INT_MIN, 0},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.constant);
            const tclass k = term_classify(int_term(c.constant), false);
            EXPECT_EQ(k.kind, tc_constant);
            EXPECT_EQ(k.value, c.value);
        }
    }

    // A call or a constant division by zero anywhere inside an element makes
    // that element, and every enclosing one, impure; siblings stay pure.
    TEST(FoldCalls, SeenInsideAnElementReachesTheEnclosingExpressions)
    {
        has_calls = false;
        EXPECT_EQ(print_expr(copy_expr(parse_expr("((f() + 1) + 2) * 0"))), "((f() + 1) + 2) * 0");
        EXPECT_TRUE(has_calls);

        has_calls = true;  // whatever came before does not make siblings impure
        EXPECT_EQ(print_expr(copy_expr(parse_expr("(a + 1) * 0"))), "0");
        EXPECT_TRUE(has_calls) << "the value at entry is kept";

        has_calls = false;
        EXPECT_EQ(print_expr(copy_expr(parse_expr("x * 0"))), "0");
        EXPECT_FALSE(has_calls);
        copy_expr(parse_expr("x / 0"));
        EXPECT_TRUE(has_calls);
    }

    // Nodes that replace a node carry its annotation set; the nodes made for
    // a folded constant, and a single-operator expression re-formed around
    // a changed operand, carry none.
    TEST(FoldAnnotations, ReplacementsKeepTheAnnotationsOfWhatTheyReplace)
    {
        const ann note = create_ann({"kept"}, {}, {});
        auto annotated = [&](const char *text) {
            const ast e = parse_expr(text);
            std::vector<ast> elements;
            for (int i = 0; i < size_of_expr(e); i++)
                elements.push_back(get_expr(e, i));
            return create_expr(note, elements);
        };

        const ast folded = copy_expr(annotated("1 + 2"));
        EXPECT_EQ(get_ann(folded), note);
        EXPECT_EQ(get_ann(get_expr(folded, 0)), create_ann());
        EXPECT_EQ(get_ann(get_term_term(get_expr(folded, 0))), create_ann());

        const ast one_term = copy_expr(annotated("-5"));
        EXPECT_EQ(get_ann(one_term), note);

        const ast long_one = copy_expr(annotated("(1 + 2) + 3 + x"));
        EXPECT_EQ(print_expr(long_one), "3 + 3 + x");
        EXPECT_EQ(get_ann(long_one), note);

        // Re-formed around a changed operand without folding, an expression
        // is a node of its own and carries no annotations.
        const ast reformed = copy_expr(annotated("f(1 + 2) * 0"));
        EXPECT_EQ(print_expr(reformed), "f(3) * 0");
        EXPECT_EQ(get_ann(reformed), create_ann());

        // Rebuilt unary operators, array indices and their terms keep theirs.
        const ann term_note = create_ann({}, {"term"}, {});
        const ann op_note = create_ann({}, {}, {"op"});
        const ast u = create_term(term_note, create_unary_op(op_note, "-", get_expr(parse_expr("f(1 + 2)"), 0)));
        const ast copied_u = copy_term(u);
        EXPECT_EQ(get_ann(copied_u), term_note);
        EXPECT_EQ(get_ann(get_term_term(copied_u)), op_note);

        const ast array = create_term(term_note, create_array_index(op_note, create_var("a", "local", 0, "int"),
                                                                    parse_expr("1 + 1")));
        const ast copied_array = copy_term(array);
        EXPECT_EQ(print_expr(create_expr(copied_array)), "a[2]");
        EXPECT_EQ(get_ann(copied_array), term_note);
        EXPECT_EQ(get_ann(get_term_term(copied_array)), op_note);
    }

    // The index the next node will get; asking costs one node.
    uint64_t next_index()
    {
        return (reinterpret_cast<uintptr_t>(create_null()) >> 32) + 1;
    }

    // Folding builds nodes it may drop again: the term made to classify a
    // unary operator, the expression an unfolded operator gives, the one a
    // division by the constant 0 gives. They count against the node limit.
    const struct
    {
        const char *expr;
        uint64_t nodes;  // made by copy_expr, dropped ones included
    } node_cases[] = {
        {"x", 0},
        {"a + b", 1},          // unoptimised_expr's expression
        {"x % y", 1},
        {"x / 0", 1},          // the division-by-zero expression
        {"- x", 1},            // the classification term
        {"~(x = 0)", 2},       // both
        {"(7 / 0) * 0", 2},
        {"- - x", 2},          // the inner operator's classification, the new expression
        {"x + 0", 1},          // the expression around the kept operand
        {"1 + 2", 3},          // int, term, expression
        {"- 5", 4},            // the classification term, then int, term, expression
        {"1 + 2 + 3", 1},      // always rebuilt
    };

    TEST(FoldNodes, DroppedNodesAreBuiltAndCounted)
    {
        for (const auto &c : node_cases)
        {
            SCOPED_TRACE(c.expr);
            const ast e = parse_expr(c.expr);
            const uint64_t before = next_index();
            copy_expr(e);
            EXPECT_EQ(next_index(), before + c.nodes + 1);
        }
    }

    // So the node limit ends a run exactly where those nodes cross it.
    TEST(FoldNodesDeathTest, TheNodeLimitCountsTheDroppedNodes)
    {
        const uint64_t last_index = 1000000;
        auto fill_leaving = [&](uint64_t free) {
            while (next_index() < last_index + 1 - free)
            {
            }
        };
        const ast e = parse_expr("~(x = 0)");
        EXPECT_EXIT(
            {
                fill_leaving(2);
                copy_expr(e);
                std::exit(0);
            },
            testing::ExitedWithCode(0), testing::Eq(""));
        EXPECT_EXIT(
            {
                fill_leaving(1);
                copy_expr(e);
            },
            testing::ExitedWithCode(255),
            testing::Eq(test_support::fatal_report(
                {}, "attempted to create more than 1,000,000 nodes, the program is probably stuck in a loop")));
    }

    // Where no rule holds, and for a division by the constant 0, the result
    // is a new expression of the same three elements without annotations.
    TEST(FoldOptimise, UnfoldedOperatorsGiveANewExpressionOfTheirOperands)
    {
        for (const char *text : {"x + y", "x % y", "x / 0", "a[1] < f()"})
        {
            SCOPED_TRACE(text);
            const ast e = parse_expr(text);
            const ast lhs = get_expr(e, 0), op = get_expr(e, 1), rhs = get_expr(e, 2);
            has_calls = false;
            const optimise_result r =
                optimise_expr(lhs, term_classify(lhs, false), op, rhs, term_classify(rhs, false));
            EXPECT_FALSE(r.changed);
            ASSERT_EQ(ast_node_kind(r.node), ast_expr);
            EXPECT_NE(r.node, e);
            ASSERT_EQ(size_of_expr(r.node), 3);
            EXPECT_EQ(get_expr(r.node, 0), lhs);
            EXPECT_EQ(get_expr(r.node, 1), op);
            EXPECT_EQ(get_expr(r.node, 2), rhs);
            EXPECT_EQ(get_ann(r.node), create_ann());
            EXPECT_EQ(has_calls, std::string(text) == "x / 0");
        }
    }

    TEST(FoldDeathTest, ATermHoldingSomethingElseEndsTheProgram)
    {
        const char *report = "\n***** Fatal error!\nerror: Unexpected term kind\n\n";
        EXPECT_EXIT(copy_term(create_term(int_term(1))), testing::ExitedWithCode(1), testing::Eq(report));
        EXPECT_EXIT(copy_expr(create_expr(create_term(create_return()))), testing::ExitedWithCode(1),
                    testing::Eq(report));
    }
}
