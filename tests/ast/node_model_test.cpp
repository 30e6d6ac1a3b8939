#include "ast/syntax_tree.h"
#include "tests/support/fatal_report.h"

#include <cstdint>
#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Jack_Compiler;

using test_support::fatal_report;

namespace
{
    template <typename Handle>
    Handle forge(uint32_t index, uint32_t tag)
    {
        return reinterpret_cast<Handle>((static_cast<uintptr_t>(index) << 32) | tag);
    }

    TEST(NodeModel, SharedEmptyObjectsSitAtIndexZero)
    {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(create_empty()), 239951u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(create_ann()), 2370951u);
        EXPECT_EQ(ast_node_kind(nullptr), ast_empty);
        EXPECT_NE(create_empty(), static_cast<ast>(nullptr));
        EXPECT_EQ(size_of_ann_comments(nullptr), 0);
        EXPECT_NE(create_ann(), static_cast<ann>(nullptr));
    }

    TEST(NodeModel, HandlesCountUpFromTheEmptyNode)
    {
        const ast first = create_null();
        const ast second = create_this();
        EXPECT_EQ(reinterpret_cast<uintptr_t>(second) - reinterpret_cast<uintptr_t>(first), uintptr_t(1) << 32);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(first) & 0xffffffffu, 239951u);
    }

    TEST(NodeModel, KindNames)
    {
        const std::pair<int, const char *> cases[] = {
            {4000, "ast_alpha"}, {4001, "ast_empty"}, {4024, "ast_expr"},
            {4034, "ast_call_as_function"}, {4037, "ast_infix_op"}, {4040, "ast_omega"}};
        for (const auto &c : cases)
            EXPECT_EQ(ast_kind_to_string(static_cast<ast_kind>(c.first)), c.second);
    }

    TEST(NodeModelDeathTest, KindOutsideTheEnumeration)
    {
        for (int k : {3999, 4041})
            EXPECT_EXIT(ast_kind_to_string(static_cast<ast_kind>(k)), testing::ExitedWithCode(1),
                        testing::Eq(fatal_report({}, "ast_kind_to_string was passed unknown kind value")));
    }

    TEST(NodeModel, HaveKindRule)
    {
        const ast var = create_var("x", "local", 0, "int");
        const ast let_array = create_let_array(var, create_empty(), create_empty());
        const ast if_else = create_if_else(create_empty(), create_empty(), create_empty());
        struct
        {
            ast node;
            ast_kind kind;
            bool expected;
        } cases[] = {
            {create_empty(), ast_statements, true},   {create_empty(), ast_expr_list, true},
            {create_empty(), ast_class_var_decs, true}, {create_empty(), ast_expr, false},
            {create_empty(), ast_class, false},        {create_empty(), ast_empty, true},
            {let_array, ast_let, true},                {create_let(var, create_empty()), ast_let_array, false},
            {if_else, ast_if, true},                   {create_if(create_empty(), create_empty()), ast_if_else, false},
            {var, ast_var, true},                      {var, ast_var_dec, false},
        };
        for (const auto &c : cases)
            EXPECT_EQ(ast_have_kind(c.node, c.kind), c.expected)
                << ast_kind_to_string(ast_node_kind(c.node)) << " as " << ast_kind_to_string(c.kind);
    }

    struct invalid_case
    {
        const char *name;
        ast handle;
    };

    // Handles that must never reach a node: wrong tag, negative index, index
    // equal to the table size, and an annotation handle.
    std::vector<invalid_case> invalid_handles()
    {
        create_empty();
        return {
            {"WrongTag", forge<ast>(0, 239952)},
            {"NegativeIndex", forge<ast>(0x80000000u, 239951)},
            {"PastTheTable", forge<ast>(1, 239951)},
            {"AnnotationHandle", reinterpret_cast<ast>(create_ann())},
        };
    }

    TEST(NodeModelDeathTest, InvalidHandlesNameTheCaller)
    {
        for (const invalid_case &c : invalid_handles())
        {
            SCOPED_TRACE(c.name);
            EXPECT_EXIT(ast_node_kind(c.handle), testing::ExitedWithCode(1),
                        testing::Eq(fatal_report({}, "ast_node_kind passed an invalid ast")));
            EXPECT_EXIT(get_let_var(c.handle), testing::ExitedWithCode(1),
                        testing::Eq(fatal_report({}, "get_let_var passed an invalid ast")));
            EXPECT_EXIT(size_of_statements(c.handle), testing::ExitedWithCode(1),
                        testing::Eq(fatal_report({}, "size_of_statements passed an invalid ast")));
        }
    }

    TEST(NodeModelDeathTest, NodeHandleGivenAsAnnotation)
    {
        const ann as_ann = reinterpret_cast<ann>(create_null());
        EXPECT_EXIT(size_of_ann_comments(as_ann), testing::ExitedWithCode(1),
                    testing::Eq(fatal_report({}, "size_of_ann_comments passed an invalid ann")));
        EXPECT_EXIT(create_empty(as_ann), testing::ExitedWithCode(1),
                    testing::Eq(fatal_report({}, "create empty passed an invalid ann")));
        EXPECT_EXIT(get_ann(reinterpret_cast<ast>(create_ann())), testing::ExitedWithCode(1),
                    testing::Eq(fatal_report({}, "get_ann passed an invalid ast")));
    }

    TEST(NodeModelDeathTest, MustbeKind)
    {
        ast_mustbe_kind(create_empty(), ast_statements);
        EXPECT_EXIT(ast_mustbe_kind(create_int(1), ast_string), testing::ExitedWithCode(1),
                    testing::Eq(fatal_report({}, "cannot use node of kind ast_int as a node of kind ast_string")));
    }

    TEST(NodeModel, AnnotatedEmptyNodesAreNodesOfTheirOwn)
    {
        EXPECT_EQ(create_empty(create_ann()), create_empty());
        const ann a = add_ann_comments(create_ann(), "c");
        const ast e1 = create_empty(a);
        const ast e2 = create_empty(a);
        EXPECT_NE(e1, e2);
        EXPECT_NE(e1, create_empty());
        EXPECT_EQ(ast_node_kind(e1), ast_empty);
        EXPECT_EQ(get_ann(e1), a);
    }

    TEST(NodeModelDeathTest, NodeLimit)
    {
        // 1,000,000 nodes may be created besides the shared empty node.
        EXPECT_EXIT(
            {
                for (int i = 0; i < 1000000; i++)
                    create_null();
                std::fputs("last allowed", stderr);
                create_null();
            },
            testing::ExitedWithCode(255),
            testing::Eq("last allowed" +
                        fatal_report({}, "attempted to create more than 1,000,000 nodes, the program is probably stuck in a loop")));
    }

    TEST(NodeModelDeathTest, AnnotationLimit)
    {
        EXPECT_EXIT(
            {
                for (int i = 0; i < 1000000; i++)
                    add_ann_errors(create_ann(), "e");
                std::fputs("last allowed", stderr);
                add_ann_errors(create_ann(), "e");
            },
            testing::ExitedWithCode(255),
            testing::Eq("last allowed" + fatal_report({}, "attempted to create more than 1,000,000 annotation nodes, "
                                                    "the program is probably stuck in a loop")));
    }
}
