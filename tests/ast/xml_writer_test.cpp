// The writer of the XML tree form: layout for every step width, element
// shapes, escaping, error elements, and what a fatal error during writing
// leaves behind. Trees are built here and written in a child process, so the
// output volume of the test process never grows.
#include "ast/nodes.h"
#include "ast/syntax_tree.h"
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"
#include "tests/support/random_tree.h"
#include "tests/support/xml_pieces.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using namespace Jack_Compiler;
using test_support::run_in_child;
using test_support::source_file;

namespace
{
    std::string written(ast tree, int step_width)
    {
        const test_support::process_result r = run_in_child([&] {
            ast_print_as_xml(tree, step_width);
            Lum_IO_Buffers::print_output();
        });
        EXPECT_TRUE(r.exited && r.exit_code == 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    // The text with the indentation of every line divided by three, or,
    // with a divisor of 0, all on one line.
    std::string relaid(const std::string &step3_text, int step_width)
    {
        std::istringstream lines(step3_text);
        std::string line, result;
        while (std::getline(lines, line))
        {
            const size_t spaces = line.find_first_not_of(' ');
            if (step_width > 0)
                result += std::string(spaces / 3 * static_cast<size_t>(step_width), ' ') + line.substr(spaces) + "\n";
            else
                result += line.substr(spaces);
        }
        return result;
    }

    ast local_x()
    {
        return create_var("x", "local", 0, "int");
    }

    // The class Main of examples/Main.xml.
    ast main_class()
    {
        const ast let = create_let(local_x(), create_expr(create_term(create_int(5))));
        const ast body = create_subr_body(create_var_decs({create_var_dec("x", "local", 0, "int")}),
                                          create_statements({create_statement(let), create_statement(create_return())}));
        const ast main = create_function("void", "main", create_param_list({}), body);
        return create_class("Main", create_empty(), create_empty(), create_subr_decs({create_subr(main)}));
    }

    ast bad_handle(uint32_t index, uint32_t tag)
    {
        return reinterpret_cast<ast>((static_cast<uintptr_t>(index) << 32) | tag);
    }
}

TEST(XmlWriter, WritesTheMainClassForEveryStepWidth)
{
    const std::string step3 = source_file("examples/Main.xml");
    const ast tree = main_class();
    EXPECT_EQ(written(tree, 3), step3);
    EXPECT_EQ(written(tree, 1), relaid(step3, 1));
    EXPECT_EQ(written(tree, 4), relaid(step3, 4));
    const std::string one_line = relaid(step3, 0);
    EXPECT_EQ(one_line.find('\n'), std::string::npos);
    EXPECT_EQ(written(tree, 0), one_line);
    EXPECT_EQ(written(tree, -5), one_line);
}

struct layout_case
{
    const char *name;
    ast (*make)();
    int step_width;
    const char *expected;
};

void PrintTo(const layout_case &c, std::ostream *os)
{
    *os << c.name;
}

class XmlWriterLayout : public testing::TestWithParam<layout_case>
{
};

TEST_P(XmlWriterLayout, WritesTheElementsOfOneNode)
{
    EXPECT_EQ(written(GetParam().make(), GetParam().step_width), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, XmlWriterLayout,
    testing::Values(
        layout_case{"null_root", [] { return ast(nullptr); }, 3, "<empty>Error - found an empty node !</empty>\n"},
        layout_case{"annotated_empty_node", [] { return create_empty(create_ann({"c"}, {}, {})); }, 2,
                    "<empty>Error - found an empty node !</empty>\n"},
        layout_case{"expression_root", [] { return create_expr(create_term(create_int(-7))); }, 2,
                    "<expr>\n  <term>\n    <int>\n      <ic>-7</ic>\n    </int>\n  </term>\n</expr>\n"},
        layout_case{"empty_list", [] { return create_statements({}); }, 3, "<statements>\n</statements>\n"},
        layout_case{"return", [] { return create_return(); }, 3, "<return>\n</return>\n"},
        layout_case{"markup_characters", [] { return create_string("a<b&\"c'>"); }, 3,
                    "<string>\n   <sc>a&lt;b&amp;&quot;c&apos;&gt;</sc>\n</string>\n"},
        layout_case{"control_bytes", [] { return create_string(std::string("\t\n\r\0\x1f\x7f ~", 8)); }, 0,
                    "<string><sc>&#9;&#10;&#13;&#0;&#31;&#127; ~</sc></string>"},
        layout_case{"high_bytes_unchanged", [] { return create_string("caf\xc3\xa9 \x80\xff"); }, 0,
                    "<string><sc>caf\xc3\xa9 \x80\xff</sc></string>"},
        layout_case{"empty_string", [] { return create_string(""); }, 0, "<string><sc></sc></string>"},
        layout_case{"annotation_lists_in_their_order",
                    [] {
                        ann a = add_ann_warnings(create_ann(), "w1");
                        a = add_ann_errors(a, "e<1>");
                        a = add_ann_comments(a, "c1");
                        a = add_ann_comments(a, "c2");
                        return create_null(a);
                    },
                    2,
                    "<null>\n  <annotation>\n    <ann-comment>c1</ann-comment>\n    <ann-comment>c2</ann-comment>\n"
                    "    <ann-warning>w1</ann-warning>\n    <ann-error>e&lt;1&gt;</ann-error>\n  </annotation>\n</null>\n"},
        layout_case{"annotation_before_fields",
                    [] { return create_int(create_ann({}, {"w"}, {}), 3); }, 0,
                    "<int><annotation><ann-warning>w</ann-warning></annotation><ic>3</ic></int>"},
        layout_case{"other_empty_annotation_set",
                    [] { return create_null(new_ann_node(new ann_node({}, {}, {}))); }, 3, "<null>\n</null>\n"},
        layout_case{"invalid_node_handles",
                    [] {
                        return create_let(bad_handle(5, 7), create_empty(create_ann()));
                    },
                    0,
                    "<let><error>Error - found invalid ast node id (ast node: [5,7]) !</error>"
                    "<empty>Error - found an empty node !</empty></let>"},
        layout_case{"negative_index_and_annotation_handle_as_node",
                    [] { return create_let(bad_handle(0xFFFFFFFF, ast_tag), reinterpret_cast<ast>(create_ann())); }, 0,
                    "<let><error>Error - found invalid ast node id (ast node: [-1,239951]) !</error>"
                    "<error>Error - found invalid ast node id (ast node: [0,2370951]) !</error></let>"},
        layout_case{"invalid_annotation_handle",
                    [] { return create_null(reinterpret_cast<ann>((static_cast<uintptr_t>(9) << 32) | ann_tag)); }, 3,
                    "<null>\n   <error>Error - found invalid ann node id (ann node: [9,2370951]) !</error>\n</null>\n"},
        layout_case{"kinds_that_are_never_nodes",
                    [] {
                        return create_do(new_node(new ast_vector_node(ast_oops, the_empty_ann, {})));
                    },
                    1, "<do>\n <error>Error - found a node with an unknown node kind (ast_oops) !</error>\n</do>\n"},
        layout_case{"shared_subtree_written_at_each_place",
                    [] {
                        const ast t = create_term(create_int(create_ann({"once"}, {}, {}), 1));
                        return create_expr(t, create_infix_op("+"), t);
                    },
                    0,
                    "<expr><term><int><annotation><ann-comment>once</ann-comment></annotation><ic>1</ic></int></term>"
                    "<op><i-op>+</i-op></op><term><int><annotation><ann-comment>once</ann-comment></annotation>"
                    "<ic>1</ic></int></term></expr>"}),
    [](const testing::TestParamInfo<layout_case> &info) { return std::string(info.param.name); });

TEST(XmlWriter, WritesLongTextsWhole)
{
    // Many pieces of output, and single values longer than one piece.
    std::vector<ast> statements;
    std::string expected = "<statements>\n";
    const std::string value(200000, 'v');
    for (int i = 0; i < 3000; i++)
    {
        const std::string s = i % 1000 == 7 ? value : "s" + std::to_string(i) + "<";
        statements.push_back(create_statement(create_return_expr(create_expr(create_term(create_string(s))))));
        std::string escaped = s;
        if (escaped.back() == '<')
            escaped.replace(escaped.size() - 1, 1, "&lt;");
        expected += " <statement>\n  <return-expr>\n   <expr>\n    <term>\n     <string>\n      <sc>" + escaped +
                    "</sc>\n     </string>\n    </term>\n   </expr>\n  </return-expr>\n </statement>\n";
    }
    expected += "</statements>\n";
    EXPECT_EQ(written(create_statements(statements), 1), expected);
}

TEST(XmlWriter, LeavesTheErrorContextStackAsItFoundIt)
{
    const ast tree = main_class();
    const test_support::process_result r = run_in_child([&] {
        Lum_IO_Buffers::push_error_context("caller");
        ast_print_as_xml(tree, 3);
        ast_print_as_xml(bad_handle(3, 3), 0);
        Lum_IO_Buffers::print_output();
        std::fflush(stdout);
        _exit(Lum_IO_Buffers::depth_error_context() == 1 && Lum_IO_Buffers::pop_error_context() == "caller" ? 0 : 3);
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exit_code, 0);
}

// A node of a kind outside the enumeration cannot be named, and naming it
// ends the program. The report shows where the writer stood, and every byte
// written before it is on standard output, first.
TEST(XmlWriterDeathTest, ReportsAKindOutsideTheEnumerationAfterTheTextBeforeIt)
{
    const ast strange = new_node(new ast_vector_node(static_cast<ast_kind>(ast_omega + 1), the_empty_ann, {}));
    const ast tree = create_statements(
        {create_statement(create_return()), create_statement(create_let(create_var("x", "local", 0, "int"), strange))});
    const std::string text = "<statements>\n <statement>\n  <return>\n  </return>\n </statement>\n <statement>\n"
                             "  <let>\n   <var>\n    <var-segment>local</var-segment>\n    <var-name>x</var-name>\n"
                             "    <var-offset>0</var-offset>\n    <var-type>int</var-type>\n   </var>\n";
    const std::string report = "\n***** Fatal error!\n"
                               "    0: ast_print_as_xml()\n"
                               "    1: print_ast(ast_statements)\n"
                               "    2: printing xml tag: statements\n"
                               "    3: printing statements index: 1\n"
                               "    4: print_ast(ast_statement)\n"
                               "    5: printing xml tag: statement\n"
                               "    6: print_ast(ast_let)\n"
                               "    7: printing xml tag: let\n"
                               "error: ast_kind_to_string was passed unknown kind value\n\n";
    // Standard output joins standard error, so the order of the two shows.
    EXPECT_EXIT(
        {
            dup2(2, 1);
            ast_print_as_xml(tree, 1);
        },
        testing::ExitedWithCode(1), testing::Eq(text + report));
}

// Output beyond the volume limit ends the program, but never loses text that
// was written before the limit was crossed.
TEST(XmlWriterDeathTest, StopsAtTheOutputLimitWithTheTextBeforeItWritten)
{
    std::vector<ast> exprs;
    std::string expected = "<expr-list>";
    const std::string value(1000000, 'a');
    for (int i = 0; i < 11; i++)
    {
        exprs.push_back(create_expr(create_term(create_string(value + std::to_string(i)))));
        expected += "<expr><term><string><sc>" + value + std::to_string(i) + "</sc></string></term></expr>";
    }
    expected += "</expr-list>";
    const ast tree = create_expr_list(exprs);

    // The death test's child runs this test again from the start: the
    // environment hands it the file made here.
    const char *const variable = "XML_WRITER_LIMIT_OUTPUT";
    std::string path = std::getenv(variable) != nullptr ? std::getenv(variable) : "";
    if (path.empty())
    {
        char name[] = "/tmp/xml_writer_limit_XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path = name;
        setenv(variable, name, 1);
    }
    EXPECT_EXIT(
        {
            const int out = open(path.c_str(), O_WRONLY | O_TRUNC);
            dup2(out, 1);
            ast_print_as_xml(tree, 0);
        },
        testing::ExitedWithCode(1),
        testing::Eq("Output written to the output and errors buffers has exceeded 10MB - the largest output correct is "
                    "less than half this size.\nYour program will now exit.\n"));
    std::ifstream file(path, std::ios::binary);
    const std::string out((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    unsetenv(variable);
    EXPECT_GT(out.size(), 10485760u);
    EXPECT_LT(out.size(), expected.size());
    EXPECT_EQ(out, expected.substr(0, out.size()));
}

namespace
{
    // Wherever the output volume limit falls, the text stops where a write
    // per piece would stop it: at the end of the piece that crosses the
    // limit, for every step width. The child spends the volume up to the
    // chosen place on standard error sent to nowhere.
    TEST(XmlWriterVolume, StopsAtTheEndOfThePieceThatCrossesTheLimit)
    {
        const long long limit = 10485760;
        const std::string message = "Output written to the output and errors buffers has exceeded 10MB - the "
                                    "largest output correct is less than half this size.\nYour program will now exit.\n";
        std::mt19937 places(7);
        for (int step : {3, 1, 0})
        {
            const unsigned seed = 20 + static_cast<unsigned>(step);
            const std::string full = test_support::random_class_xml(seed, step);
            for (int i = 0; i < 120; i++)
            {
                const size_t room = places() % full.size();
                SCOPED_TRACE("step " + std::to_string(step) + ", room " + std::to_string(room));
                const test_support::process_result r = run_in_child([&] {
                    std::mt19937 rng(seed);
                    const ast tree = test_support::random_class(rng);
                    const int errors = dup(2);
                    const int nowhere = open("/dev/null", O_WRONLY);
                    dup2(nowhere, 2);
                    Lum_IO_Buffers::write_to_errors(std::string(static_cast<size_t>(limit) - room, 'e'));
                    dup2(errors, 2);
                    ast_print_as_xml(tree, step);
                });
                ASSERT_TRUE(r.exited);
                EXPECT_EQ(r.exit_code, 1);
                EXPECT_EQ(r.err, message);
                EXPECT_EQ(r.out, full.substr(0, test_support::xml_cut_at_limit(full, room)));
            }
        }
    }
}
