// The code writer, row by row: for each construct a small class and the
// exact VM text it becomes. Classes are read by the Jack front end and,
// where a row needs what only folding leaves (negative constants), folded.
#include "ast/nesting_limit.h"
#include "ast/syntax_tree.h"
#include "passes/exprfold/copy_tree.h"
#include "tests/support/fatal_report.h"
#include "frontend/parser.h"
#include "codegen/vm_writer.h"

#include <functional>
#include <gtest/gtest.h>

using namespace Jack_Compiler;
using test_support::fatal_report;

namespace
{
    ast jack(const std::string &text, bool fold = false)
    {
        const Jack_Source::source src("T.jack", text);
        Jack_Source::diagnostics diags;
        Jack_Source::parser reader(src, xml_nesting_limit, diags);
        const ast tree = reader.parse_class();
        EXPECT_EQ(diags.errors(), 0) << diags.text("test");
        return fold ? copy_class(tree) : tree;
    }

    struct row
    {
        const char *construct;
        std::function<ast()> tree;
        const char *code;
    };

    TEST(VmWriter, EveryRowOfTheTable)
    {
        const row rows[] = {
            {"function: locals counted, return without a value, statics and locals",
             [] { return jack("class C { static int s; function void f() { var int a, b; var boolean c;"
                              " let s = c; let a = s; return; } }"); },
             "function C.f 3\npush local 2\npop static 0\npush static 0\npop local 0\npush constant 0\nreturn\n"},
            {"constructor: fields counted, statics not",
             [] { return jack("class P { static int s; field int x, y; constructor P new(int ax)"
                              " { let x = ax; return this; } }"); },
             "function P.new 0\npush constant 2\ncall Memory.alloc 1\npop pointer 0\npush argument 0\n"
             "pop this 0\npush pointer 0\nreturn\n"},
            {"constructor of a class without fields takes one word",
             [] { return jack("class E { constructor E new() { return this; } }"); },
             "function E.new 0\npush constant 1\ncall Memory.alloc 1\npop pointer 0\npush pointer 0\nreturn\n"},
            {"method: prologue, calls on a variable, on this and as a function",
             [] { return jack("class C { field int n; method int get(C other, int k) { do other.set(k, 1);"
                              " do set(2); return Math.max(n, k); } method void set(int v) { return; } }"); },
             "function C.get 0\npush argument 0\npop pointer 0\npush argument 1\npush argument 2\n"
             "push constant 1\ncall C.set 3\npop temp 0\npush pointer 0\npush constant 2\ncall C.set 2\n"
             "pop temp 0\npush this 0\npush argument 2\ncall Math.max 2\nreturn\n"
             "function C.set 0\npush argument 0\npop pointer 0\npush constant 0\nreturn\n"},
            {"a method call on this inside a function still pushes pointer 0",
             [] { return jack("class C { function void f() { do g(); return; } method void g() { return; } }"); },
             "function C.f 0\npush pointer 0\ncall C.g 1\npop temp 0\npush constant 0\nreturn\n"
             "function C.g 0\npush argument 0\npop pointer 0\npush constant 0\nreturn\n"},
            {"let of an array element, and an array element as a term",
             [] { return jack("class C { function void f(Array a, int i) { let a[i + 1] = a[i]; return; } }"); },
             "function C.f 0\npush argument 0\npush argument 1\npush constant 1\nadd\nadd\npush argument 0\n"
             "push argument 1\nadd\npop pointer 1\npush that 0\npop temp 0\npop pointer 1\npush temp 0\n"
             "pop that 0\npush constant 0\nreturn\n"},
            {"labels: numbered per subroutine, an outer statement before those inside it",
             [] { return jack("class C { function void f(int x) { while (x) { if (x) { let x = 1; }"
                              " else { if (x) { let x = 2; } } } if (x) { } while (x) { } return; }"
                              " function void g() { if (true) { } return; } }"); },
             "function C.f 0\nlabel WHILE_0\npush argument 0\nnot\nif-goto WHILE_END_0\npush argument 0\nnot\n"
             "if-goto IF_ELSE_1\npush constant 1\npop argument 0\ngoto IF_END_1\nlabel IF_ELSE_1\n"
             "push argument 0\nnot\nif-goto IF_END_2\npush constant 2\npop argument 0\nlabel IF_END_2\n"
             "label IF_END_1\ngoto WHILE_0\nlabel WHILE_END_0\npush argument 0\nnot\nif-goto IF_END_3\n"
             "label IF_END_3\nlabel WHILE_4\npush argument 0\nnot\nif-goto WHILE_END_4\ngoto WHILE_4\n"
             "label WHILE_END_4\npush constant 0\nreturn\n"
             "function C.g 0\npush constant 0\nnot\nnot\nif-goto IF_END_0\nlabel IF_END_0\npush constant 0\n"
             "return\n"},
            {"every operator, left to right without precedence",
             [] { return jack("class C { function int f() { return 1 + 2 * 3 - 4 / 5 & 6 | 7 < 8 > 9 = 10; } }"); },
             "function C.f 0\npush constant 1\npush constant 2\nadd\npush constant 3\ncall Math.multiply 2\n"
             "push constant 4\nsub\npush constant 5\ncall Math.divide 2\npush constant 6\nand\npush constant 7\n"
             "or\npush constant 8\nlt\npush constant 9\ngt\npush constant 10\neq\nreturn\n"},
            {"keyword constants, this, a string with bytes above 127, unary operators, parentheses",
             [] { return jack("class C { method void f(int x) { do C.g(true, false, null, this, \"a\xc3\xa9\","
                              " -x, ~x, (x + 1) * 2); return; } }"); },
             "function C.f 0\npush argument 0\npop pointer 0\npush constant 0\nnot\npush constant 0\n"
             "push constant 0\npush pointer 0\npush constant 3\ncall String.new 1\npush constant 97\n"
             "call String.appendChar 2\npush constant 195\ncall String.appendChar 2\npush constant 169\n"
             "call String.appendChar 2\npush argument 1\nneg\npush argument 1\nnot\npush argument 1\n"
             "push constant 1\nadd\npush constant 2\ncall Math.multiply 2\ncall C.g 8\npop temp 0\n"
             "push constant 0\nreturn\n"},
            {"negative constants and -32768 left by folding",
             [] { return jack("class C { function int f() { var int a; let a = -7; let a = ~32767;"
                              " let a = -32767; let a = 32767 + 1; let a = 0 - 1; return 32767; } }", true); },
             "function C.f 1\npush constant 7\nneg\npop local 0\npush constant 32767\nnot\npop local 0\n"
             "push constant 32767\nneg\npop local 0\npush constant 32767\nnot\npop local 0\npush constant 1\n"
             "neg\npop local 0\npush constant 32767\nreturn\n"},
            {"empty bodies as the constructors make them: a bare statement list",
             [] {
                 return create_class("K", nullptr, nullptr,
                                     create_subr_decs({create_subr(create_function("void", "f", nullptr, nullptr)),
                                                       create_subr(create_method("void", "m", nullptr, nullptr))}));
             },
             "function K.f 0\nfunction K.m 0\npush argument 0\npop pointer 0\n"},
        };
        for (const row &r : rows)
        {
            SCOPED_TRACE(r.construct);
            EXPECT_EQ(vm_code(r.tree()), r.code);
        }
    }

    // Trees the reader never builds but the constructors do: a node of a
    // kind that its position does not take, an offset or a constant beyond
    // 16 bits.
    TEST(VmWriter, RefusesTreesTheReaderNeverBuilds)
    {
        auto in_function = [](ast statement) {
            return create_class(
                "C", nullptr, nullptr,
                create_subr_decs({create_subr(create_function(
                    "void", "f", nullptr, create_subr_body(nullptr, create_statements({statement}))))}));
        };
        auto expr_of = [](ast held) { return create_expr(create_term(held)); };
        const ast x = create_var("x", "local", 0, "int");
        const ast call = create_call_as_function("C", create_subr_call("g", nullptr));
        const struct
        {
            ast tree;
            const char *what;
        } cases[] = {
            {in_function(create_statement(create_int(1))), "a node of kind ast_int as a statement"},
            {in_function(create_statement(create_return_expr(expr_of(create_statement(create_return()))))),
             "a node of kind ast_statement as a term"},
            {in_function(create_statement(create_do(x))), "a node of kind ast_var as a call"},
            {in_function(create_statement(create_let(create_int(3), expr_of(create_int(1))))),
             "a node of kind ast_int as a variable"},
            {in_function(create_statement(create_let(x, create_term(create_int(1))))),
             "a node of kind ast_term as an expression"},
            {in_function(create_statement(create_do(create_call_as_method("C", call, create_subr_call("g", nullptr))))),
             "a node of kind ast_call_as_function as a variable"},
            {in_function(create_statement(create_let(create_var("x", "local", 32768, "int"), expr_of(create_int(1))))),
             "the offset 32768 of the variable \"x\""},
            {in_function(create_statement(create_let(create_var("x", "local", -1, "int"), expr_of(create_int(1))))),
             "the offset -1 of the variable \"x\""},
            {in_function(create_statement(create_let(x, expr_of(create_int(32768))))), "the integer constant 32768"},
            {in_function(create_statement(create_let(x, expr_of(create_int(-32769))))), "the integer constant -32769"},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.what);
            EXPECT_EXIT(vm_code(c.tree), testing::ExitedWithCode(1),
                        testing::Eq(fatal_report({}, std::string("xml2vm: no code for ") + c.what + " in \"C.f\"")));
        }
    }
}
