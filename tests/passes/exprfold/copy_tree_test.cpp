#include "passes/exprfold/copy_tree.h"
#include "passes/exprfold/fold.h"
#include "tests/passes/notation.h"

#include <cstdint>
#include <gtest/gtest.h>

using namespace Jack_Compiler;
using test_support::parse_class;
using test_support::print_expr;

namespace
{
    // The table index of the next node to be created. Creating a node to ask
    // costs one node, which callers allow for.
    uint64_t next_index()
    {
        return (reinterpret_cast<uintptr_t>(create_null()) >> 32) + 1;
    }

    ast subr_of(ast c, int i)
    {
        return get_subr_subr(get_subr_decs(get_class_subr_decs(c), i));
    }

    ast statements_of(ast function)
    {
        return get_subr_body_body(get_function_subr_body(function));
    }

    ast held(ast statements, int i)
    {
        return get_statement_statement(get_statements(statements, i));
    }

    // Only the nodes that folding builds and drops again are made: the
    // expression of each unfolded single-operator expression and the term
    // that classifies each unary operator (13 in Main). No node of the walk.
    TEST(CopyTree, NothingFoldsSoTheInputComesBackAndOnlyDroppedNodesAreMade)
    {
        const char *classes[] = {
            "class Empty { }",
            "class Main {"
            "  static int s; field int f;"
            "  constructor Main new(int a) { let f = a; return this; }"
            "  function int g(int a, int b) {"
            "    var int x, y; var Array v;"
            "    let x = a + b;"
            "    let v[x - 1] = - x;"
            "    if (x < y) { } else { let y = (x * 2) + 1; }"
            "    while (~(x = 0)) { do Output.printInt(x); let x = x - 1; { let y = f(x, \"s\", null); } }"
            "    do o.m();"
            "    do this.h(a[i] | b, 7 / 0);"
            "    if (y) { return; }"
            "    return (a + b) * c;"
            "  }"
            "  method void h() { }"
            "}",
        };
        const uint64_t dropped[] = {0, 13};
        for (size_t i = 0; i < 2; i++)
        {
            const char *text = classes[i];
            SCOPED_TRACE(text);
            const ast c = parse_class(text);
            const uint64_t before = next_index();
            EXPECT_EQ(copy_class(c), c);
            EXPECT_EQ(next_index(), before + dropped[i] + 1) << "only the dropped nodes and the probe were made";
        }
    }

    // An expression of two or more operators is never folded as a whole but
    // is rebuilt on every run, and with it the path above it.
    TEST(CopyTree, LongExpressionsAreRebuiltWithTheirPath)
    {
        const ast c = parse_class("class Main { function int f(int a) { return a + a + a; } function void g() { } }");
        const ast copied = copy_class(c);
        EXPECT_NE(copied, c);
        EXPECT_EQ(get_subr_decs(get_class_subr_decs(copied), 1), get_subr_decs(get_class_subr_decs(c), 1));
        EXPECT_EQ(get_class_statics(copied), get_class_statics(c));
    }

    // One let inside a while in the third subroutine folds: exactly the nodes
    // on the path from the class down to it are new, everything beside the
    // path is the input's own node.
    TEST(CopyTree, AChangeDeepDownRebuildsExactlyItsAncestors)
    {
        const ast c = parse_class("class Main {"
                                  "  function void one() { let x = 1; }"
                                  "  method void two() { while (x) { let y = 2; } }"
                                  "  function void three(int a) {"
                                  "    var int x;"
                                  "    let q = a;"
                                  "    while (a > 0) { let p = q; let x = 2 * 3; do f(q); }"
                                  "    return;"
                                  "  }"
                                  "  function void four() { return x; }"
                                  "}");
        const uint64_t before = next_index();
        const ast out = copy_class(c);
        // 11 nodes on the path, 3 for the folded expression (int, term, expr),
        // the dropped expression of the unfolded a > 0, and the probe.
        EXPECT_EQ(next_index(), before + 11 + 3 + 1 + 1);

        ASSERT_NE(out, c);
        EXPECT_EQ(get_class_class_name(out), "Main");
        EXPECT_EQ(get_class_statics(out), get_class_statics(c));
        EXPECT_EQ(get_class_fields(out), get_class_fields(c));
        EXPECT_NE(get_class_subr_decs(out), get_class_subr_decs(c));
        for (int i : {0, 1, 3})
            EXPECT_EQ(get_subr_decs(get_class_subr_decs(out), i), get_subr_decs(get_class_subr_decs(c), i)) << i;
        EXPECT_NE(get_subr_decs(get_class_subr_decs(out), 2), get_subr_decs(get_class_subr_decs(c), 2));

        const ast f_in = subr_of(c, 2), f_out = subr_of(out, 2);
        EXPECT_NE(f_out, f_in);
        EXPECT_EQ(get_function_name(f_out), "three");
        EXPECT_EQ(get_function_vtype(f_out), "void");
        EXPECT_EQ(get_function_param_list(f_out), get_function_param_list(f_in));
        EXPECT_NE(get_function_subr_body(f_out), get_function_subr_body(f_in));
        EXPECT_EQ(get_subr_body_decs(get_function_subr_body(f_out)), get_subr_body_decs(get_function_subr_body(f_in)));

        const ast body_in = statements_of(f_in), body_out = statements_of(f_out);
        EXPECT_NE(body_out, body_in);
        EXPECT_EQ(get_statements(body_out, 0), get_statements(body_in, 0));
        EXPECT_NE(get_statements(body_out, 1), get_statements(body_in, 1));
        EXPECT_EQ(get_statements(body_out, 2), get_statements(body_in, 2));

        const ast while_in = held(body_in, 1), while_out = held(body_out, 1);
        EXPECT_NE(while_out, while_in);
        EXPECT_EQ(get_while_condition(while_out), get_while_condition(while_in));
        const ast loop_in = get_while_body(while_in), loop_out = get_while_body(while_out);
        EXPECT_NE(loop_out, loop_in);
        EXPECT_EQ(get_statements(loop_out, 0), get_statements(loop_in, 0));
        EXPECT_NE(get_statements(loop_out, 1), get_statements(loop_in, 1));
        EXPECT_EQ(get_statements(loop_out, 2), get_statements(loop_in, 2));

        const ast let_in = held(loop_in, 1), let_out = held(loop_out, 1);
        EXPECT_NE(let_out, let_in);
        EXPECT_EQ(get_let_var(let_out), get_let_var(let_in));
        EXPECT_EQ(print_expr(get_let_expr(let_out)), "6");
    }

    TEST(CopyTree, RebuiltNodesKeepTheirAnnotationSets)
    {
        const ann a = create_ann({"c"}, {"w"}, {"e"});
        const ast let = create_let(a, create_var("x", "local", 0, "int"), test_support::parse_expr("1 + 1"));
        const ast statement = create_statement(a, let);
        const ast list = create_statements(a, {statement});
        const ast body = create_subr_body(a, create_var_decs({}), list);
        const ast method = create_method(a, "void", "m", create_param_list({}), body);
        const ast subr = create_subr(a, method);
        const ast c = create_class(a, "C", create_class_var_decs({}), create_class_var_decs({}),
                                   create_subr_decs(a, {subr}));

        const ast out = copy_class(c);
        const ast out_subr = get_subr_decs(get_class_subr_decs(out), 0);
        const ast out_method = get_subr_subr(out_subr);
        const ast out_body = get_method_subr_body(out_method);
        const ast out_list = get_subr_body_body(out_body);
        const ast out_statement = get_statements(out_list, 0);
        for (ast node : {out, get_class_subr_decs(out), out_subr, out_method, out_body, out_list, out_statement,
                         get_statement_statement(out_statement)})
            EXPECT_EQ(get_ann(node), a) << ast_kind_to_string(ast_node_kind(node));
        EXPECT_NE(out_body, body);
    }

    TEST(CopyTree, NestedBlocksAndCallsAreWalked)
    {
        const ast c = parse_class("class Main { function void f() {"
                                  "  { { let x = 1 + 1; } }"
                                  "  do g(2 * 2);"
                                  "  do o.m(x + 0);"
                                  "  let a[0 + i] = 1 - 1;"
                                  "  if (1 < 2) { } else { return 0 + 1; }"
                                  "} }");
        const ast out = statements_of(subr_of(copy_class(c), 0));
        const ast inner = get_statement_statement(get_statements(held(out, 0), 0));
        EXPECT_EQ(print_expr(get_let_expr(held(inner, 0))), "2");

        const ast g = get_call_as_function_subr_call(get_do_call(held(out, 1)));
        EXPECT_EQ(print_expr(get_expr_list(get_subr_call_expr_list(g), 0)), "4");
        const ast m = get_call_as_method_subr_call(get_do_call(held(out, 2)));
        EXPECT_EQ(print_expr(get_expr_list(get_subr_call_expr_list(m), 0)), "x");

        EXPECT_EQ(print_expr(get_let_array_index(held(out, 3))), "i");
        EXPECT_EQ(print_expr(get_let_array_expr(held(out, 3))), "0");

        const ast if_else = held(out, 4);
        EXPECT_EQ(print_expr(get_if_else_condition(if_else)), "true");
        EXPECT_EQ(print_expr(get_return_expr(held(get_if_else_if_false(if_else), 0))), "1");
    }

    TEST(CopyTree, ACallSetsHasCallsEvenWhenNothingInItChanges)
    {
        const ast call = create_call_as_function("Main", create_subr_call("f", create_expr_list({})));
        has_calls = false;
        EXPECT_EQ(copy_call_as_function(call), call);
        EXPECT_TRUE(has_calls);

        const ast method = create_call_as_method("Main", create_this(), create_subr_call("m", nullptr));
        has_calls = false;
        EXPECT_EQ(copy_call_as_method(method), method);
        EXPECT_TRUE(has_calls);
    }

    // The XML reader never builds these trees, so the failures are reached
    // only by trees built in-process. ("bad subroutine dec found" cannot be
    // reached at all: create_subr refuses anything but a subroutine.)
    TEST(CopyTreeDeathTest, NodesHoldingTheWrongKindEndTheProgram)
    {
        const ast not_a_statement = create_statement(create_int(1));
        const ast wrapped_twice = create_statement(create_statement(create_return()));
        const ast not_a_call = create_do(create_return());
        const char *statement_report = "\n***** Fatal error!\nerror: Unexpected statement kind\n\n";
        EXPECT_EXIT(copy_statement(not_a_statement), testing::ExitedWithCode(1), testing::Eq(statement_report));
        EXPECT_EXIT(copy_statement(wrapped_twice), testing::ExitedWithCode(1), testing::Eq(statement_report));
        EXPECT_EXIT(copy_do(not_a_call), testing::ExitedWithCode(1),
                    testing::Eq("\n***** Fatal error!\nerror: Unexpected call kind\n\n"));
    }
}
