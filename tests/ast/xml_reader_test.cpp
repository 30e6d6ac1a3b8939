// The reader of the XML tree form, run as a real process (xml_echo reads a
// tree and writes it again): what it accepts and how it reads it, every way
// it fails, the error contexts of a failure, and deep nesting.
#include "ast/nesting_limit.h"
#include "ast/nodes.h"
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"
#include "tests/support/fatal_report.h"
#include "tests/support/random_tree.h"
#include "tests/support/temporary_file.h"

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Jack_Compiler;
using test_support::nested_class_xml;
using test_support::process_result;
using test_support::run_in_child;
using test_support::run_process;
using test_support::source_file;

using test_support::fatal_report;

namespace
{
    process_result echo(const std::string &input, int step_width = 0)
    {
        test_support::process_options options;
        options.input = input;
        return run_process({XML_ECHO, std::to_string(step_width)}, options);
    }

    std::string main_xml()
    {
        return source_file("examples/Main.xml");
    }

    // examples/Main.xml as one line, as written with step width 0.
    std::string main_one_line()
    {
        std::string text;
        for (char c : main_xml())
            if (c != '\n' && (c != ' ' || (!text.empty() && text.back() != '>')))
                text += c;
        return text;
    }

    // text with the first occurrence of each "from" replaced by its "to".
    std::string with(std::string text, const std::vector<std::pair<std::string, std::string>> &replacements)
    {
        for (const auto &r : replacements)
        {
            const size_t at = text.find(r.first);
            if (at == std::string::npos)
                throw std::invalid_argument("no " + r.first + " in the text");
            text.replace(at, r.first.size(), r.second);
        }
        return text;
    }

    const std::string term_5 = "<term><int><ic>5</ic></int></term>";
}

struct accepted_case
{
    const char *name;
    std::vector<std::pair<std::string, std::string>> replacements;
    std::string expected;  // a part of the one-line output
};

TEST(XmlReader, ReadsWhatTheFormAllows)
{
    const std::vector<accepted_case> cases = {
        {"spaces around a text are part of it", {{"<class-name>Main", "<class-name> Main "}}, "<class-name> Main </class-name>"},
        {"a text of whitespace only", {{"<class-name>Main", "<class-name>   "}}, "<class-name>   </class-name>"},
        {"raw line breaks and tabs in a text", {{"<class-name>Main", "<class-name>a\tb\r\nc"}}, "<class-name>a&#9;b&#13;&#10;c<"},
        {"numeric references", {{"<class-name>Main", "<class-name>&#9;&#10;&#0;&#x41;&#x4a;&#300;"}}, "<class-name>&#9;&#10;&#0;AJ,<"},
        {"references that cannot be decoded become spaces",
         {{"<class-name>Main", "<class-name>[&#-61;&nbsp;&;&#;&#12a;&#X41;&#xg;]"}}, "<class-name>[       ]<"},
        {"#x alone is byte 0", {{"<class-name>Main", "<class-name>&#x;"}}, "<class-name>&#0;<"},
        {"named references", {{"<class-name>Main", "<class-name>&lt;x&gt;&amp;&apos;&quot;"}}, "<class-name>&lt;x&gt;&amp;&apos;&quot;<"},
        {"bytes 128 to 255, raw or by reference", {{"<class-name>Main", "<class-name>caf\xc3\xa9&#233;&#x80;"}}, "<class-name>caf\xc3\xa9\xe9\x80<"},
        {"a number's leading digits only", {{"<ic>5</ic>", "<ic>+12abc</ic>"}}, "<ic>12</ic>"},
        {"whitespace before a number", {{"<ic>5</ic>", "<ic> \t-7 </ic>"}}, "<ic>-7</ic>"},
        {"the lowest constant", {{"<ic>5</ic>", "<ic>-32768</ic>"}}, "<ic>-32768</ic>"},
        {"the highest offset", {{"<var-offset>0", "<var-offset>32767"}}, "<var-offset>32767</var-offset><var-type>"},
        {"TRUE is false", {{"<int><ic>5</ic></int>", "<bool><tf>TRUE</tf></bool>"}}, "<tf>false</tf>"},
        {"yes is false", {{"<int><ic>5</ic></int>", "<bool><tf>yes</tf></bool>"}}, "<tf>false</tf>"},
        {"attributes and junk in tags", {{"<class>", "<class lang=\"x\">"}, {"</class>", "</class junk>"}}, main_one_line()},
        {"annotation entries in any order",
         {{"<let>", "<let><annotation><ann-error>e</ann-error><ann-comment>c</ann-comment>\n<ann-warning>w</ann-warning>"
                    "<ann-comment>d</ann-comment></annotation>"}},
         "<let><annotation><ann-comment>c</ann-comment><ann-comment>d</ann-comment><ann-warning>w</ann-warning>"
         "<ann-error>e</ann-error></annotation><var>"},
        {"an empty annotation", {{"<let>", "<let> <annotation>\n</annotation> "}}, main_one_line()},
        {"whatever follows the class", {{"</class>", "</class>\n<class>junk &"}}, main_one_line()},
    };
    for (const accepted_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        const process_result r = echo(with(main_one_line(), c.replacements));
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << r.out;
    }
}

TEST(XmlReader, IgnoresTheLayoutBetweenElements)
{
    std::string loose;
    for (char c : main_xml())
        loose += c == '\n' ? std::string(" \r\n\t\n") : std::string(1, c);
    EXPECT_EQ(echo(loose, 0).out, main_one_line());
}

struct failure_case
{
    const char *name;
    std::string input;
    std::string message;
};

TEST(XmlReader, ReportsEveryParseErrorAndExitsWithOne)
{
    const std::string main = main_one_line();
    const std::vector<failure_case> cases = {
        {"no input", "", "missing open tag"},
        {"a declaration first", "<?xml version=\"1.0\"?>" + main, "missing open tag"},
        {"a close tag where an open tag belongs", "</class>", "missing open tag"},
        {"text where an element belongs", with(main, {{"<subr-decs>", "x<subr-decs>"}}), "missing open tag"},
        {"nothing where a term's content belongs", with(main, {{"<int><ic>5</ic></int>", ""}}), "missing open tag"},
        {"another root element", with(main, {{"<class>", "<klass>"}}), "missing <class>"},
        {"another element in a list", with(main, {{"<statement>", "<statements>"}}), "missing <statement>"},
        {"input ending inside a list", main.substr(0, main.find("</statements>")), "missing close tag"},
        {"an open tag where a close tag belongs", with(main, {{"</return>", "<return>"}}), "missing close tag"},
        {"an unescaped ampersand", with(main, {{"<class-name>Main", "<class-name>AT&T"}}), "missing close tag"},
        {"another close tag", with(main, {{"</return>", "</retur>"}}), "missing </return>"},
        {"a self-closing tag", with(main, {{"<int><ic>5</ic></int>", "<null/>"}}), "missing </null>"},
        {"an empty text", with(main, {{"<class-name>Main", "<class-name>"}}), "missing text"},
        {"an element for a text", with(main, {{"<vtype>void", "<vtype><x></x>"}}), "missing text"},
        {"an empty number", with(main, {{"<ic>5", "<ic>"}}), "number missing"},
        {"no digits", with(main, {{"<ic>5", "<ic>abc"}}), "invalid number: abc"},
        {"more than 32 bits", with(main, {{"<ic>5", "<ic>-2147483649"}}), "invalid number: -2147483649"},
        {"a constant too large", with(main, {{"<ic>5", "<ic>40000"}}), "number out of range: 40000"},
        {"a negative offset", with(main, {{"<var-offset>0", "<var-offset>-1"}}), "number out of range: -1"},
        {"an offset too large", with(main, {{"<var-offset>0", "<var-offset>32768x"}}), "number out of range: 32768x"},
        {"another annotation entry",
         with(main, {{"<let>", "<let><annotation><ann-comment>c</ann-comment><ann-note>n</ann-note></annotation>"}}),
         "missing open tag <ann-comment>, <ann-warning> or <ann-error> found:ann-note"},
        {"text in an annotation", with(main, {{"<let>", "<let><annotation>junk</annotation>"}}),
         "missing open tag <ann-comment>, <ann-warning> or <ann-error> found:junk"},
        {"another subroutine", with(main, {{"<function>", "<procedure>"}}),
         "missing open tag <constructor>, <function>, or <method>"},
        {"an error element for a statement",
         with(main, {{"<return></return>", "<empty>Error - found an empty node !</empty>"}}),
         "missing open tag <let>, <let-array>, <if>, <if-else>, <while>, <do>, <kn-return> or <return-expr> found:empty"},
        {"another call", with(main, {{"<return></return>", "<do><let></let></do>"}}),
         "missing open tag <call-as-function> or <call-as-method> found:let"},
        {"another term", with(main, {{"<int><ic>5</ic></int>", "<error>Error</error>"}}),
         "missing open tag <int>, <string>, <bool>, <null>, <this>, <expr>, <var>, <array-index>, "
         "<call-as-function>, <call-as-method> or <unary-op> found:error"},
        {"another object of a method call",
         with(main, {{"<int><ic>5</ic></int>", "<call-as-method><class-name>C</class-name><int></int></call-as-method>"}}),
         "missing open tag <var> or <this> found:int"},
        {"nesting too deep", nested_class_xml(xml_nesting_limit + 1, 0), "nesting too deep"},
    };
    for (const failure_case &c : cases)
    {
        SCOPED_TRACE(c.name);
        const process_result r = echo(c.input);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        const std::string tail = "error: \nParse Error! " + c.message + "\n\n";
        ASSERT_GE(r.err.size(), tail.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    }
}

TEST(XmlReader, ShowsWhereItStoodWhenItFailed)
{
    const std::vector<std::string> let = {"ast_parse_xml()",          "parsing xml tag: class",
                                          "parsing xml tag: subr-decs", "parsing subr-decs index: 0",
                                          "parsing xml tag: subr",      "parsing xml tag: function",
                                          "parsing xml tag: subr-body", "parsing xml tag: statements",
                                          "parsing statements index: 0", "parsing xml tag: statement",
                                          "parsing xml tag: let"};
    auto and_then = [](std::vector<std::string> v, const std::vector<std::string> &more) {
        v.insert(v.end(), more.begin(), more.end());
        return v;
    };

    // examples/Main.xml without its lines 32 to 38, the expression of the let.
    std::string without_expr;
    int line = 1;
    for (char c : main_xml())
    {
        if (line < 32 || line > 38)
            without_expr += c;
        line += c == '\n';
    }
    process_result r = echo(without_expr);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, fatal_report(and_then(let, {"parsing xml tag: expr"}), "\nParse Error! missing open tag\n"));

    r = echo(with(main_one_line(), {{"<let>", "<let><annotation><ann-warning>w</ann-warning><ann-comment></ann-comment>"}}));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, fatal_report(and_then(let, {"parsing xml tag: annotation", "parsing annotation index: 1",
                                           "parsing xml tag: ann-comment"}),
                            "\nParse Error! missing text\n"));

    // An expression of an even number of elements is refused by its
    // constructor, under the contexts of the reader.
    r = echo(with(main_one_line(), {{term_5, term_5 + "<op><i-op>+</i-op></op>"}}));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, fatal_report(and_then(let, {"creating ast_expr"}),
                            "cannot create a node of kind ast_expr using a vector<ast> that is not an odd length > 0\n"));

}

// Once the node table is nearly full, the next node the reader builds ends
// the program, whose report must show where the reader stood.
struct table_full_case
{
    int nodes_left;
    std::vector<std::string> contexts;
};

void PrintTo(const table_full_case &c, std::ostream *os)
{
    *os << c.nodes_left << " nodes left";
}

class XmlReaderDeathTest : public testing::TestWithParam<table_full_case>
{
};

TEST_P(XmlReaderDeathTest, ShowsWhereItStoodWhenTheNodeTableIsFull)
{
    const std::string input = source_file("examples/Main.xml");
    EXPECT_EXIT(
        {
            // The table may hold 1,000,001 nodes, the shared empty node included.
            const uintptr_t last = static_cast<uintptr_t>(1000000 - GetParam().nodes_left) << 32;
            while (!valid_ast(reinterpret_cast<ast>(last | ast_tag)))
                create_null();
            FILE *in = std::tmpfile();
            std::fwrite(input.data(), 1, input.size(), in);
            std::fflush(in);
            dup2(fileno(in), 0);
            lseek(0, 0, SEEK_SET);
            ast_parse_xml();
        },
        testing::ExitedWithCode(255),
        testing::Eq(fatal_report(GetParam().contexts,
                           "attempted to create more than 1,000,000 nodes, the program is probably stuck in a loop")));
}

INSTANTIATE_TEST_SUITE_P(
    NodesLeft, XmlReaderDeathTest,
    testing::Values(
        table_full_case{0, {"ast_parse_xml()", "parsing xml tag: class"}},
        table_full_case{3,
                        {"ast_parse_xml()", "parsing xml tag: class", "parsing xml tag: subr-decs",
                         "parsing subr-decs index: 0", "parsing xml tag: subr", "parsing xml tag: function",
                         "parsing xml tag: subr-body", "parsing xml tag: var-decs", "parsing var-decs index: 0"}},
        table_full_case{6,
                        {"ast_parse_xml()", "parsing xml tag: class", "parsing xml tag: subr-decs",
                         "parsing subr-decs index: 0", "parsing xml tag: subr", "parsing xml tag: function",
                         "parsing xml tag: subr-body", "parsing xml tag: statements", "parsing statements index: 0",
                         "parsing xml tag: statement", "parsing xml tag: let", "parsing xml tag: expr",
                         "parsing expr index: 0", "parsing xml tag: term"}}));

TEST(XmlReader, ReadsAsDeeplyAsTheLimitAllows)
{
    const std::string deepest = nested_class_xml(xml_nesting_limit, 0);
    process_result r = echo(deepest, 0);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out == deepest);
    r = echo(deepest, 1);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out == nested_class_xml(xml_nesting_limit, 1));
    r = echo(nested_class_xml(xml_nesting_limit - 1, 2), 0);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.out == nested_class_xml(xml_nesting_limit - 1, 0));
}

TEST(XmlReader, RefusesDeeperNestingWithoutCrashing)
{
    for (int depth : {xml_nesting_limit + 1, xml_nesting_limit + 2, 300000})
    {
        SCOPED_TRACE(depth);
        const process_result r = echo(nested_class_xml(depth, 0));
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, "");
        const std::string tail = "error: \nParse Error! nesting too deep\n\n";
        ASSERT_GE(r.err.size(), tail.size());
        EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
        // One context per open element: the limit's worth and the one refused.
        int elements = 0;
        for (size_t at = r.err.find("parsing xml tag: "); at != std::string::npos;
             at = r.err.find("parsing xml tag: ", at + 1))
            elements++;
        EXPECT_EQ(elements, xml_nesting_limit + 1);
    }
}

TEST(XmlReader, ASecondCallGoesOnWhereTheFirstStopped)
{
    auto two_classes = [](const std::string &input) {
        return run_in_child(
            [] {
                const ast first = ast_parse_xml();
                const ast second = ast_parse_xml();
                std::printf("%s %s", get_class_class_name(first).c_str(), get_class_class_name(second).c_str());
            },
            input);
    };
    const std::string other = with(main_xml(), {{"<class-name>Main", "<class-name>Other"}});
    process_result r = two_classes(main_xml() + other);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "Main Other");

    // The token after the first class is dropped: here, the second class's
    // open tag.
    r = two_classes(main_one_line() + main_one_line());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, fatal_report({"ast_parse_xml()", "parsing xml tag: class"}, "\nParse Error! missing <class>\n"));
}

// Scanning the stream's buffer in place must read exactly what taking one
// byte at a time reads: the same tree or the same report, and the same rest
// of standard input left for whoever reads on. Standard input is a pipe,
// whose reads end wherever the writer's writes do, and a file, whose reads
// end every 64 KiB.
TEST(XmlReader, ScanningTheBufferInPlaceReadsAsByteByByte)
{
    std::vector<std::string> inputs = {source_file("examples/Everything.xml") + "  <after> the tree",
                                       source_file("examples/Main.xml"), main_one_line() + "rest", ""};
    for (unsigned seed = 1; seed <= 6; seed++)
        inputs.push_back(test_support::random_class_xml(seed, static_cast<int>(seed % 4)) + "\n<class>");
    const std::string everything = source_file("examples/Everything.xml");
    for (size_t cut = 1; cut < everything.size(); cut += everything.size() / 23)
        inputs.push_back(everything.substr(0, cut));
    // Trees and rests longer than the stream's buffer, and a tag that the
    // first 64 KiB read ends at, in or just after.
    const std::string wide(70000, ' ');
    inputs.push_back("<class>" + wide + everything.substr(7) + wide + "<after>" + std::string(70000, 'x'));
    for (size_t before_end : {1, 5, 6, 12, 14, 15, 16})
        inputs.push_back("<class>" + std::string(65536 - 7 - before_end, ' ') + everything.substr(7) + wide);
    const test_support::temporary_file file;
    for (const std::string &input : inputs)
    {
        SCOPED_TRACE(input.substr(0, 80));
        file.write(input);
        // Byte by byte from a pipe, then in place from a pipe and from the file.
        process_result results[3];
        for (int way = 0; way < 3; way++)
            results[way] = run_in_child(
                [way, &file] {
                    if (way == 2 && std::freopen(file.path(), "rb", stdin) == nullptr)
                        _exit(99);
                    xml_read_stdin_bytewise(way == 0);
                    ast_print_as_xml(ast_parse_xml(), 1);
                    Lum_IO_Buffers::print_output();
                    std::printf("\n--- left on standard input:\n");
                    for (int c; (c = std::getchar()) != EOF;)
                        std::putchar(c);
                },
                way == 2 ? "" : input);
        for (int way = 1; way < 3; way++)
        {
            EXPECT_EQ(results[0].exit_code, results[way].exit_code) << way;
            EXPECT_EQ(results[0].err, results[way].err) << way;
            EXPECT_TRUE(results[0].out == results[way].out) << way;
        }
    }
}
