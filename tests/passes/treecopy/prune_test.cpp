#include "passes/treecopy/prune.h"
#include "tests/passes/notation.h"

#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace Jack_Compiler;

namespace
{
    uint64_t index_of(ast t)
    {
        return reinterpret_cast<uintptr_t>(t) >> 32;
    }

    bool is_leaf(ast_kind k)
    {
        switch (k)
        {
        case ast_var_dec:
        case ast_var:
        case ast_this:
        case ast_int:
        case ast_string:
        case ast_bool:
        case ast_null:
        case ast_infix_op:
        case ast_return:
            return true;
        default:
            return false;
        }
    }

    // What a node holds besides its children, and its children in order.
    std::string label(ast t)
    {
        const ast_kind k = ast_node_kind(t);
        std::string s = ast_kind_to_string(k);
        switch (k)
        {
        case ast_class: return s + " " + get_class_class_name(t);
        case ast_var_dec:
            return s + " " + get_var_dec_segment(t) + " " + get_var_dec_name(t) + " " +
                   std::to_string(get_var_dec_offset(t)) + " " + get_var_dec_type(t);
        case ast_var:
            return s + " " + get_var_segment(t) + " " + get_var_name(t) + " " + std::to_string(get_var_offset(t)) +
                   " " + get_var_type(t);
        case ast_constructor: return s + " " + get_constructor_vtype(t) + " " + get_constructor_name(t);
        case ast_function: return s + " " + get_function_vtype(t) + " " + get_function_name(t);
        case ast_method: return s + " " + get_method_vtype(t) + " " + get_method_name(t);
        case ast_int: return s + " " + std::to_string(get_int_constant(t));
        case ast_string: return s + " " + get_string_constant(t);
        case ast_bool: return s + (get_bool_t_or_f(t) ? " true" : " false");
        case ast_unary_op: return s + " " + get_unary_op_op(t);
        case ast_infix_op: return s + " " + get_infix_op_op(t);
        case ast_call_as_function: return s + " " + get_call_as_function_class_name(t);
        case ast_call_as_method: return s + " " + get_call_as_method_class_name(t);
        case ast_subr_call: return s + " " + get_subr_call_subr_name(t);
        default: return s;
        }
    }

    std::vector<ast> children(ast t)
    {
        auto list = [&](int (*size)(ast), ast (*get)(ast, int)) {
            std::vector<ast> v;
            for (int i = 0; i < size(t); i++)
                v.push_back(get(t, i));
            return v;
        };
        switch (ast_node_kind(t))
        {
        case ast_class: return {get_class_statics(t), get_class_fields(t), get_class_subr_decs(t)};
        case ast_class_var_decs: return list(size_of_class_var_decs, get_class_var_decs);
        case ast_subr_decs: return list(size_of_subr_decs, get_subr_decs);
        case ast_subr: return {get_subr_subr(t)};
        case ast_constructor: return {get_constructor_param_list(t), get_constructor_subr_body(t)};
        case ast_function: return {get_function_param_list(t), get_function_subr_body(t)};
        case ast_method: return {get_method_param_list(t), get_method_subr_body(t)};
        case ast_param_list: return list(size_of_param_list, get_param_list);
        case ast_subr_body: return {get_subr_body_decs(t), get_subr_body_body(t)};
        case ast_var_decs: return list(size_of_var_decs, get_var_decs);
        case ast_statements: return list(size_of_statements, get_statements);
        case ast_statement: return {get_statement_statement(t)};
        case ast_let: return {get_let_var(t), get_let_expr(t)};
        case ast_let_array: return {get_let_array_var(t), get_let_array_index(t), get_let_array_expr(t)};
        case ast_if: return {get_if_condition(t), get_if_if_true(t)};
        case ast_if_else: return {get_if_else_condition(t), get_if_else_if_true(t), get_if_else_if_false(t)};
        case ast_while: return {get_while_condition(t), get_while_body(t)};
        case ast_do: return {get_do_call(t)};
        case ast_return_expr: return {get_return_expr(t)};
        case ast_expr_list: return list(size_of_expr_list, get_expr_list);
        case ast_expr: return list(size_of_expr, get_expr);
        case ast_term: return {get_term_term(t)};
        case ast_unary_op: return {get_unary_op_term(t)};
        case ast_array_index: return {get_array_index_var(t), get_array_index_index(t)};
        case ast_call_as_function: return {get_call_as_function_subr_call(t)};
        case ast_call_as_method: return {get_call_as_method_var(t), get_call_as_method_subr_call(t)};
        case ast_subr_call: return {get_subr_call_expr_list(t)};
        default: return {};
        }
    }

    struct comparison
    {
        uint64_t first_new = 0;  // every node made by the rebuild has at least this index
        std::set<ast_kind> kinds_seen;
        int nodes = 0;

        void same_tree(ast in, ast out)
        {
            const ast_kind k = ast_node_kind(in);
            kinds_seen.insert(k);
            nodes++;
            ASSERT_EQ(label(out), label(in));
            EXPECT_EQ(get_ann(out), get_ann(in)) << label(in);
            if (is_leaf(k))
                EXPECT_EQ(out, in) << "a leaf is the input's own node: " << label(in);
            else
                EXPECT_GE(index_of(out), first_new) << "every interior node is new: " << label(in);
            const std::vector<ast> a = children(in), b = children(out);
            ASSERT_EQ(a.size(), b.size()) << label(in);
            for (size_t i = 0; i < a.size(); i++)
                same_tree(a[i], b[i]);
        }
    };

    // A class with every kind of node, each with an annotation set of its
    // own, and every kind of list once empty.
    ast every_kind()
    {
        int n = 0;
        auto A = [&] { return create_ann({"c" + std::to_string(n++)}, {"w"}, {}); };
        auto var = [&](const char *name) { return create_var(A(), name, "local", 1, "int"); };
        auto term = [&](ast held) { return create_term(A(), held); };
        auto expr1 = [&](ast held) { return create_expr(A(), term(held)); };
        auto op = [&](const char *o) { return create_infix_op(A(), o); };
        auto statement = [&](ast s) { return create_statement(A(), s); };

        const ast method_call = create_call_as_method(
            A(), "C", create_this(A()),
            create_subr_call(A(), "m", create_expr_list(A(), {expr1(create_string(A(), "s&<"))})));
        const ast function_call =
            create_call_as_function(A(), "Math", create_subr_call(A(), "f", create_expr_list(A(), {})));
        const ast long_expr = create_expr(
            A(), {term(create_bool(A(), true)), op("+"), term(create_null(A())), op("-"),
                  term(create_unary_op(A(), "-", term(var("x")))), op("*"),
                  term(create_array_index(A(), var("a"), expr1(create_int(A(), 3)))), op("/"),
                  term(expr1(var("y"))), op("&"), term(function_call), op("|"),
                  term(create_call_as_method(A(), "Obj", var("o"), create_subr_call(A(), "g", nullptr)))});
        const std::vector<ast> body = {
            statement(create_let(A(), var("x"), expr1(create_int(A(), -7)))),
            statement(create_let_array(A(), var("a"), expr1(create_int(A(), 0)), long_expr)),
            statement(create_if(A(), expr1(create_bool(A(), false)), create_statements(A(), {}))),
            statement(create_if_else(A(), expr1(var("x")), create_statements(A(), {statement(create_return(A()))}),
                                     create_statements(A(), {}))),
            statement(create_while(A(), expr1(var("x")), create_statements(A(), {}))),
            statement(create_do(A(), function_call)),
            statement(create_do(A(), method_call)),
            statement(create_statements(A(), {statement(create_return_expr(A(), expr1(create_this(A()))))})),
            statement(create_return(A())),
        };
        auto subr_body = [&](std::vector<ast> locals, std::vector<ast> statements) {
            return create_subr_body(A(), create_var_decs(A(), locals), create_statements(A(), statements));
        };
        const ast v = create_var_dec(A(), "v", "local", 0, "int");
        const ast subrs = create_subr_decs(
            A(), {create_subr(A(), create_constructor(A(), "C", "new", create_param_list(A(), {}), subr_body({}, {}))),
                  create_subr(A(), create_function(A(), "int", "f",
                                                   create_param_list(A(), {create_var_dec(A(), "p", "argument", 0,
                                                                                          "int")}),
                                                   subr_body({v}, body))),
                  create_subr(A(), create_method(A(), "void", "m", create_param_list(A(), {}), subr_body({}, {})))});
        return create_class(A(), "C", create_class_var_decs(A(), {create_var_dec(A(), "s", "static", 0, "int")}),
                            create_class_var_decs(A(), {}), subrs);
    }

    TEST(Prune, RebuildsEveryInteriorNodeAndKeepsEveryLeafAndAnnotation)
    {
        const ast in = every_kind();
        comparison check;
        check.first_new = index_of(create_null()) + 1;
        const ast out = prune_class(in);
        check.same_tree(in, out);
        EXPECT_EQ(check.kinds_seen.size(), 36u) << "every kind but the empty node is in the tree";
        // Exactly the interior nodes are new.
        int leaves = 0;
        std::function<void(ast)> count = [&](ast t) {
            leaves += is_leaf(ast_node_kind(t));
            for (ast c : children(t))
                count(c);
        };
        count(in);
        EXPECT_EQ(index_of(create_null()), index_of(out) + 1) << "the class is the last node built";
        EXPECT_EQ(index_of(out) + 1 - check.first_new, static_cast<uint64_t>(check.nodes - leaves));
    }

    TEST(Prune, ParenthesesAndFoldableExpressionsComeBackUntouched)
    {
        const char *exprs[] = {"(x)", "((1 + 2))", "x + 0", "- -x", "7 / 0", "1 + 2 + 3"};
        for (const char *text : exprs)
        {
            SCOPED_TRACE(text);
            const ast e = test_support::parse_expr(text);
            const ast out = prune_expr(e);
            EXPECT_NE(out, e);
            EXPECT_EQ(test_support::print_expr(out), test_support::print_expr(e));
        }
    }

    // The XML reader never builds these trees, so the failures are reached
    // only by trees built in-process. ("bad subroutine dec found" cannot be
    // reached at all: create_subr refuses anything but a subroutine.)
    TEST(PruneDeathTest, NodesHoldingTheWrongKindEndTheProgram)
    {
        const char *statement_report = "\n***** Fatal error!\nerror: Unexpected statement kind\n\n";
        EXPECT_EXIT(prune_statement(create_statement(create_int(1))), testing::ExitedWithCode(1),
                    testing::Eq(statement_report));
        EXPECT_EXIT(prune_statement(create_statement(create_statement(create_return()))),
                    testing::ExitedWithCode(1), testing::Eq(statement_report));
        EXPECT_EXIT(prune_do(create_do(create_return())), testing::ExitedWithCode(1),
                    testing::Eq("\n***** Fatal error!\nerror: Unexpected call kind\n\n"));
        const char *term_report = "\n***** Fatal error!\nerror: Unexpected term kind\n\n";
        EXPECT_EXIT(prune_term(create_term(create_term(create_int(1)))), testing::ExitedWithCode(1),
                    testing::Eq(term_report));
        EXPECT_EXIT(prune_term(create_term(create_return())), testing::ExitedWithCode(1), testing::Eq(term_report));
    }
}
