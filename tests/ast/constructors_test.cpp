#include "ast/syntax_tree.h"
#include "tests/support/fatal_report.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Jack_Compiler;

using test_support::fatal_report;

namespace
{
    ast local_x()
    {
        return create_var("x", "local", 0, "int");
    }

    ast int_term(int value)
    {
        return create_term(create_int(value));
    }

    ast statement_of(ast s)
    {
        return create_statement(s);
    }

    TEST(Constructors, StatementsFlattenOneLevelAndDropEmptyNodes)
    {
        const ast s1 = statement_of(create_return());
        const ast s2 = statement_of(create_return());
        const ast s3 = statement_of(create_return());
        const ast s4 = statement_of(create_return());
        const ast list = create_statements({s1, create_empty(), create_statements({s2, s3}), s4});
        ASSERT_EQ(size_of_statements(list), 4);
        EXPECT_EQ(get_statements(list, 0), s1);
        EXPECT_EQ(get_statements(list, 1), s2);
        EXPECT_EQ(get_statements(list, 2), s3);
        EXPECT_EQ(get_statements(list, 3), s4);
    }

    TEST(Constructors, VarDecListsOpenNestedVarDecs)
    {
        const ast a = create_var_dec("a", "static", 0, "int");
        const ast b = create_var_dec("b", "static", 1, "int");
        const ast statics = create_class_var_decs({create_var_decs({a, create_empty()}), b});
        ASSERT_EQ(size_of_class_var_decs(statics), 2);
        EXPECT_EQ(get_class_var_decs(statics, 0), a);
        EXPECT_EQ(get_class_var_decs(statics, 1), b);
        EXPECT_EQ(get_var_dec_name(a), "a");
        EXPECT_EQ(get_var_dec_segment(a), "static");
    }

    TEST(Constructors, EmptyChildrenBecomeNewEmptyLists)
    {
        const ast c = create_class("C", create_empty(), create_empty(), create_empty());
        EXPECT_EQ(ast_node_kind(get_class_statics(c)), ast_class_var_decs);
        EXPECT_EQ(ast_node_kind(get_class_fields(c)), ast_class_var_decs);
        EXPECT_NE(get_class_statics(c), get_class_fields(c));
        EXPECT_EQ(size_of_class_var_decs(get_class_statics(c)), 0);
        EXPECT_EQ(ast_node_kind(get_class_subr_decs(c)), ast_subr_decs);

        // An empty body of a subroutine becomes a statement list; annotations
        // of the replaced empty node are not carried over.
        const ast annotated_empty = create_empty(create_ann({"dropped"}, {}, {}));
        const ast f = create_function("void", "f", annotated_empty, create_empty());
        EXPECT_EQ(ast_node_kind(get_function_param_list(f)), ast_param_list);
        EXPECT_EQ(get_ann(get_function_param_list(f)), create_ann());
        EXPECT_EQ(ast_node_kind(get_function_subr_body(f)), ast_statements);
        EXPECT_EQ(ast_node_kind(get_constructor_subr_body(create_constructor("C", "new", nullptr, nullptr))),
                  ast_statements);

        struct
        {
            ast node;
            std::function<ast(ast)> child;
            ast_kind kind;
        } cases[] = {
            {create_subr_body(nullptr, nullptr), get_subr_body_decs, ast_var_decs},
            {create_subr_body(nullptr, nullptr), get_subr_body_body, ast_statements},
            {create_if(nullptr, nullptr), get_if_if_true, ast_statements},
            {create_if_else(nullptr, nullptr, nullptr), get_if_else_if_false, ast_statements},
            {create_while(nullptr, nullptr), get_while_body, ast_statements},
            {create_subr_call("f", nullptr), get_subr_call_expr_list, ast_expr_list},
        };
        for (const auto &c : cases)
            EXPECT_EQ(ast_node_kind(c.child(c.node)), c.kind);
        // Children not listed for substitution are stored as given.
        EXPECT_EQ(get_let_expr(create_let(local_x(), nullptr)), static_cast<ast>(nullptr));
    }

    TEST(Constructors, ChildrenAreStoredUnexaminedUntilRead)
    {
        const ast bogus = reinterpret_cast<ast>(uintptr_t(77) << 32 | 239951);
        const ast let = create_let(bogus, bogus);
        EXPECT_EQ(get_let_var(let), bogus);
        EXPECT_EXIT(ast_node_kind(get_let_var(let)), testing::ExitedWithCode(1),
                    testing::Eq(fatal_report({}, "ast_node_kind passed an invalid ast")));
    }

    TEST(Constructors, ExpressionForms)
    {
        const ast t = int_term(1);
        const ast op = create_infix_op("+");
        EXPECT_EQ(size_of_expr(create_expr(t)), 1);
        const ast three = create_expr(t, op, int_term(2));
        EXPECT_EQ(size_of_expr(three), 3);
        EXPECT_EQ(get_expr(three, 1), op);
        const ann a = create_ann({"c"}, {}, {});
        EXPECT_EQ(get_ann(create_expr(a, t)), a);
    }

    TEST(Constructors, VarTakesNameBeforeSegment)
    {
        const ast v = create_var("x", "local", -3, "");
        EXPECT_EQ(get_var_name(v), "x");
        EXPECT_EQ(get_var_segment(v), "local");
        EXPECT_EQ(get_var_offset(v), -3);
        EXPECT_EQ(get_var_type(v), "");
    }

    struct death_case
    {
        const char *name;
        std::function<void()> call;
        std::vector<std::string> contexts;
        std::string message;
    };

    void PrintTo(const death_case &c, std::ostream *os)
    {
        *os << c.name;
    }

    class ConstructorsDeathTest : public testing::TestWithParam<death_case>
    {
    };

    TEST_P(ConstructorsDeathTest, ReportsExactly)
    {
        EXPECT_EXIT(GetParam().call(), testing::ExitedWithCode(1),
                    testing::Eq(fatal_report(GetParam().contexts, GetParam().message)));
    }

    INSTANTIATE_TEST_SUITE_P(Checks, ConstructorsDeathTest, testing::Values(
        death_case{"UnwrappedStatement", [] { create_statements({create_let(local_x(), nullptr)}); }, {},
                   "cannot use a node of kind: ast_let to create ast_statements"},
        death_case{"NestedClassVarDecs",
                   [] { create_class_var_decs({create_class_var_decs({})}); }, {},
                   "cannot use a node of kind: ast_class_var_decs to create ast_class_var_decs"},
        death_case{"ParamListElement", [] { create_param_list({local_x()}); },
                   {"creating ast_param_list", "checking index 0 is ast_var_dec"},
                   "cannot use node of kind: ast_var as a node of kind: ast_var_dec to initialise: ast_param_list"},
        death_case{"SubrDecsDoNotFlatten", [] { create_subr_decs({create_empty()}); },
                   {"creating ast_subr_decs", "checking index 0 is ast_subr"},
                   "cannot use node of kind: ast_empty as a node of kind: ast_subr to initialise: ast_subr_decs"},
        death_case{"InvalidListElement",
                   [] { create_expr_list({create_expr(int_term(1)), reinterpret_cast<ast>(uintptr_t(5))}); },
                   {"creating ast_expr_list", "checking index 1 is ast_expr"}, "ast_is_kind passed an invalid ast"},
        death_case{"EmptyExpr", [] { create_expr(std::vector<ast>{}); }, {"creating ast_expr"},
                   "cannot create a node of kind ast_expr using a vector<ast> that is not an odd length > 0"},
        death_case{"EvenExpr", [] { create_expr(std::vector<ast>{int_term(1), create_infix_op("+")}); },
                   {"creating ast_expr"},
                   "cannot create a node of kind ast_expr using a vector<ast> that is not an odd length > 0"},
        death_case{"ExprTermWhereOperatorBelongs", [] { create_expr({int_term(1), int_term(2), int_term(3)}); },
                   {"creating ast_expr", "checking index 1 is ast_infix_op"},
                   "cannot use node of kind: ast_term as a node of kind: ast_infix_op to initialise: ast_expr"},
        death_case{"SubrOfStatement", [] { create_subr(statement_of(create_return())); }, {},
                   "cannot use a node of kind: ast_statement to create an ast_subr"},
        death_case{"SubstitutionReadsTheChild", [] { create_while(nullptr, reinterpret_cast<ast>(uintptr_t(9))); },
                   {}, "ast_node_kind passed an invalid ast"},
        death_case{"GetOfEmptyList", [] { get_statements(create_empty(), 0); }, {},
                   "get_statements expected ast_statements but was passed ast_empty"},
        death_case{"SizeOfEmptyExpr", [] { size_of_expr(create_empty()); }, {},
                   "size_of_expr passed the wrong kind of ast: "},
        death_case{"IndexEqualToSize", [] { get_expr(create_expr(int_term(1)), 1); }, {},
                   "get_expr, index is out of range"},
        death_case{"NegativeIndex", [] { get_expr(create_expr(int_term(1)), -1); }, {},
                   "get_expr, index is out of range"},
        death_case{"IfElseFalseCallerName", [] { get_if_else_if_false(create_if(nullptr, nullptr)); }, {},
                   "get_if_else_if_else expected ast_if_else but was passed ast_if"},
        death_case{"AccessorIgnoresCompatibility",
                   [] { get_let_var(create_let_array(local_x(), nullptr, nullptr)); }, {},
                   "get_let_var expected ast_let but was passed ast_let_array"},
        death_case{"ReturnExprAccessor", [] { get_return_expr(create_return()); }, {},
                   "get_return_expr expected ast_return_expr but was passed ast_return"}));

    TEST(Constructors, SizeOfListKindsAcceptsTheEmptyNode)
    {
        EXPECT_EQ(size_of_statements(create_empty()), 0);
        EXPECT_EQ(size_of_expr_list(nullptr), 0);
        EXPECT_EQ(size_of_class_var_decs(create_empty(create_ann({"c"}, {}, {}))), 0);
    }
}

namespace
{
    // The class Main: function void main() { var int x; let x = 5; return; }
    ast build_main_class()
    {
        const ast x = create_var_dec("x", "local", 0, "int");
        const ast let = create_let(create_var("x", "local", 0, "int"), create_expr(create_term(create_int(5))));
        const ast body = create_subr_body(create_var_decs({x}),
                                          create_statements({create_statement(let), create_statement(create_return())}));
        const ast main = create_function("void", "main", create_param_list({}), body);
        return create_class("Main", create_class_var_decs({}), create_class_var_decs({}),
                            create_subr_decs({create_subr(main)}));
    }

    TEST(Constructors, WholeClassTakenApartThroughTheAccessors)
    {
        const ast c = build_main_class();
        EXPECT_EQ(get_class_class_name(c), "Main");
        EXPECT_EQ(size_of_class_var_decs(get_class_statics(c)), 0);
        EXPECT_EQ(size_of_class_var_decs(get_class_fields(c)), 0);
        ASSERT_EQ(size_of_subr_decs(get_class_subr_decs(c)), 1);

        const ast f = get_subr_subr(get_subr_decs(get_class_subr_decs(c), 0));
        ASSERT_EQ(ast_node_kind(f), ast_function);
        EXPECT_EQ(get_function_vtype(f), "void");
        EXPECT_EQ(get_function_name(f), "main");
        EXPECT_EQ(size_of_param_list(get_function_param_list(f)), 0);

        const ast body = get_function_subr_body(f);
        const ast decs = get_subr_body_decs(body);
        ASSERT_EQ(size_of_var_decs(decs), 1);
        const ast x = get_var_decs(decs, 0);
        EXPECT_EQ(get_var_dec_segment(x) + get_var_dec_name(x) + std::to_string(get_var_dec_offset(x)) +
                      get_var_dec_type(x),
                  "localx0int");

        const ast statements = get_subr_body_body(body);
        ASSERT_EQ(size_of_statements(statements), 2);
        const ast let = get_statement_statement(get_statements(statements, 0));
        ASSERT_EQ(ast_node_kind(let), ast_let);
        EXPECT_EQ(get_var_name(get_let_var(let)), "x");
        const ast value = get_let_expr(let);
        ASSERT_EQ(size_of_expr(value), 1);
        EXPECT_EQ(get_int_constant(get_term_term(get_expr(value, 0))), 5);
        EXPECT_EQ(ast_node_kind(get_statement_statement(get_statements(statements, 1))), ast_return);
    }
}
