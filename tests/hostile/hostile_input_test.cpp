// Every program of the tool-chain as a real process, on input meant to break
// it: nothing at all, bundled examples cut short at every byte, noise, a
// hundred megabytes of one byte, nesting at and past the limits, output past
// the volume limit, and failing input under every stream setting.
//
// Whatever the input, a program ends by itself: with status 0 and nothing
// on standard error, or with status 1 and a fatal error report on standard
// error and nothing on standard output, or (output past the volume limit)
// with status 1 and the limit's message. A failure is never status 0.
#include "ast/nesting_limit.h"
#include "tests/support/fatal_report.h"
#include "tests/support/process.h"
#include "tests/support/random_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace test_support;

namespace
{
    const char *const all_programs[] = {"exprfold", "treecopy", "xml2jack", "jack2xml", "sdkarchs", "diffpaint",
                                         "xml2vm"};

    const std::string volume_report =
        "Output written to the output and errors buffers has exceeded 10MB - the largest output correct is less "
        "than half this size.\nYour program will now exit.\n";

    process_result run(const std::string &name, const std::string &input,
                       const std::vector<std::pair<std::string, std::string>> &env = {})
    {
        process_options options;
        options.input = input;
        options.env = env;
        std::vector<std::string> argv = {program(name)};
        if (name == "diffpaint")
            argv.push_back("-n");
        return run_process(argv, options);
    }

    bool ends_with(const std::string &text, const std::string &tail)
    {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }

    // What every run must show, whatever its input.
    void expect_handled(const std::string &name, const process_result &r)
    {
        ASSERT_TRUE(r.exited) << name << " was ended by signal " << r.signal << "; standard error:\n" << r.err;
        if (name == "diffpaint")
        {
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(r.err, "");
            return;
        }
        if (r.exit_code == 0)
        {
            EXPECT_EQ(r.err, "");
            return;
        }
        EXPECT_EQ(r.exit_code, 1);
        // What was written up to the volume limit stays, behind status 1.
        if (r.err == volume_report)
            return;
        EXPECT_EQ(r.out, "") << name << " left output behind a failure";
        // jack2xml reports the mistakes in a class as a compiler does.
        if (name == "jack2xml" && r.err.rfind("<stdin>:", 0) == 0)
        {
            EXPECT_NE(r.err.find(": error: "), std::string::npos) << r.err;
            EXPECT_TRUE(ends_with(r.err, "^\n") || ends_with(r.err, "too many errors; stopping after 50\n")) << r.err;
            return;
        }
        EXPECT_NE(r.err.find("\n***** Fatal error!\n"), std::string::npos) << r.err;
        EXPECT_TRUE(ends_with(r.err, "\n\n")) << r.err;
    }

    TEST(HostileInput, EmptyInput)
    {
        const std::string no_class =
            fatal_report({"ast_parse_xml()", "parsing xml tag: class"}, "\nParse Error! missing open tag\n");
        const struct
        {
            const char *name;
            int status;
            std::string err;
        } cases[] = {
            {"exprfold", 1, no_class},
            {"treecopy", 1, no_class},
            {"xml2jack", 1, no_class},
            {"xml2vm", 1, no_class},
            {"jack2xml", 1, "<stdin>:1:1: error: expected \"class\" but found end of input\n\n^\n"},
            {"sdkarchs", 1, fatal_report({}, "\n 1: \n   ^\nFound token \"\" but expected \"value\"\n")},
            {"diffpaint", 0, ""},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.name);
            const process_result r = run(c.name, "");
            expect_handled(c.name, r);
            EXPECT_EQ(r.exit_code, c.status);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, c.err);
        }
    }

    // Every cut of a valid input shorter than accepted_from is refused with
    // status 1 and nothing on standard output; every longer one gives the
    // output of the whole input.
    void expect_every_cut_refused_until(const std::string &name, const std::string &input, size_t accepted_from)
    {
        const process_result whole = run(name, input);
        ASSERT_EQ(whole.exit_code, 0) << whole.err;
        ASSERT_NE(whole.out, "");
        for (size_t n = 0; n <= input.size(); n++)
        {
            SCOPED_TRACE(name + " on the first " + std::to_string(n) + " bytes");
            const process_result r = run(name, input.substr(0, n));
            expect_handled(name, r);
            if (n >= accepted_from)
            {
                EXPECT_EQ(r.exit_code, 0);
                EXPECT_TRUE(r.out == whole.out);
            }
            else
                EXPECT_EQ(r.exit_code, 1);
            if (testing::Test::HasFailure())
                return;
        }
    }

    // The reader stops at the name of the class's close tag: "</class" is
    // the whole of it that counts.
    size_t after_close_tag(const std::string &xml)
    {
        return xml.rfind("</class") + 7;
    }

    TEST(HostileInput, TreecopyOnEveryCutOfABundledTree)
    {
        const std::string xml = source_file("examples/Main.xml");
        expect_every_cut_refused_until("treecopy", xml, after_close_tag(xml));
    }

    TEST(HostileInput, ExprfoldOnEveryCutOfABundledTree)
    {
        const std::string xml = source_file("examples/Main.xml");
        expect_every_cut_refused_until("exprfold", xml, after_close_tag(xml));
    }

    TEST(HostileInput, Jack2xmlOnEveryCutOfABundledClass)
    {
        const std::string jack = source_file("examples/Fold.jack");
        expect_every_cut_refused_until("jack2xml", jack, jack.rfind('}') + 1);
    }

    TEST(HostileInput, SdkarchsOnEveryCutOfTheBundledSettings)
    {
        const std::string json = source_file("examples/sdk_settings.json");
        expect_every_cut_refused_until("sdkarchs", json, json.rfind('}') + 1);
    }

    // Random bytes, random runs of each format's own punctuation, and the
    // bundled examples with a few bytes changed.
    TEST(HostileInput, NoiseThroughEveryProgram)
    {
        std::mt19937 rng(20240613);
        const std::string alphabets[] = {
            "",  // every byte
            "<>/&;#x</class><term><expr>ann-error \n",
            "[]{}:,\"\\u0123456789-+.eE tfnrl\n\r\t",
            "{}()[].,;+-*/&|<>=~\"/**/class let do if x 1\n",
        };
        std::vector<std::string> inputs;
        for (const size_t size : {1u, 3u, 64u, 1000u, 70000u})
            for (const std::string &alphabet : alphabets)
            {
                std::string noise(size, '\0');
                for (char &c : noise)
                    c = alphabet.empty() ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
                inputs.push_back(noise);
            }
        for (const char *example : {"examples/Main.xml", "examples/Fold.jack", "examples/sdk_settings.json"})
        {
            const std::string text = source_file(example);
            for (int i = 0; i < 6; i++)
            {
                std::string changed = text;
                for (int j = 0; j < 1 + i; j++)
                    changed[rng() % changed.size()] = static_cast<char>(rng() & 0xFF);
                inputs.push_back(changed);
            }
        }
        for (const std::string &input : inputs)
            for (const char *name : all_programs)
            {
                SCOPED_TRACE(std::string(name) + " on " + std::to_string(input.size()) + " bytes");
                const process_result r = run(name, input);
                expect_handled(name, r);
                if (std::string(name) == "diffpaint")
                {
                    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'),
                              std::count(input.begin(), input.end(), '\n') + (input.back() == '\n' ? 0 : 1));
                }
            }
    }

    bool sanitized()
    {
#ifdef JACK_SANITIZED
        return true;
#else
        return false;
#endif
    }

    // The readers hold one token (or the whole text) in memory, but nothing
    // that grows by more than a few bytes for each byte read.
    TEST(HostileInput, HundredMegabytesOfOneByte)
    {
        if (sanitized())
            GTEST_SKIP() << "too slow under the sanitizers";
        const size_t size = 100 * 1024 * 1024;

        const process_result lines = run("sdkarchs", std::string(size, '\n'));
        expect_handled("sdkarchs", lines);
        EXPECT_EQ(lines.exit_code, 1);
        EXPECT_TRUE(ends_with(lines.err, "\nFound token \"\" but expected \"value\"\n\n")) << lines.err;

        const process_result blanks = run("treecopy", std::string(size, ' '));
        expect_handled("treecopy", blanks);
        EXPECT_EQ(blanks.exit_code, 1);
        EXPECT_TRUE(ends_with(blanks.err, "\nParse Error! missing open tag\n\n")) << blanks.err;
    }

    // Ten megabytes, the largest input the tool-chain is meant for, within a
    // few times that much memory, whatever the bytes are.
    TEST(HostileInput, TenMegabytesInLittleMemory)
    {
        if (sanitized())
            GTEST_SKIP() << "the sanitizers reserve far more address space than any limit";
        const size_t size = 10 * 1024 * 1024;
        const struct
        {
            const char *name;
            char byte;
        } cases[] = {
            {"sdkarchs", '\n'}, {"sdkarchs", ' '},  {"sdkarchs", '['}, {"treecopy", '\n'},
            {"exprfold", '&'},  {"xml2jack", '<'},  {"jack2xml", '\n'}, {"diffpaint", '\n'},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(std::string(c.name) + " on bytes " + std::to_string(c.byte));
            process_options options;
            options.input = std::string(size, c.byte);
            const std::string arguments = std::string(c.name) == "diffpaint" ? " -n" : "";
            const process_result r = run_process(
                {"/bin/sh", "-c", "ulimit -v 200000 && exec \"$0\"" + arguments, program(c.name)}, options);
            expect_handled(c.name, r);
        }
    }

    TEST(HostileInput, NestingAtAndPastTheLimits)
    {
        const int xml_limit = Jack_Compiler::xml_nesting_limit;
        const auto brackets = [](int depth, char open, char close) {
            return std::string(static_cast<size_t>(depth), open) + std::string(static_cast<size_t>(depth), close);
        };
        const auto objects = [](int depth) {
            std::string text;
            for (int i = 0; i < depth; i++)
                text += "{\"a\":";
            return text + "1" + std::string(static_cast<size_t>(depth), '}');
        };
        const auto parens = [](int depth) {
            return "class A { function int f() { return " + std::string(static_cast<size_t>(depth), '(') + "1" +
                   std::string(static_cast<size_t>(depth), ')') + "; } }";
        };
        std::string terms =
            "<class><class-name>M</class-name><class-var-decs></class-var-decs><class-var-decs></class-var-decs>"
            "<subr-decs><subr><function><vtype>void</vtype><name>f</name><param-list></param-list><subr-body>"
            "<var-decs></var-decs><statements><statement><return-expr><expr>";
        for (int i = 0; i < 100000; i++)
            terms += "<term><expr>";
        const std::string json_too_deep = "nesting too deep: more than 2000 levels of arrays and objects\n\n";
        const std::string xml_too_deep = "\nParse Error! nesting too deep\n\n";
        const struct
        {
            const char *name;
            std::string input;
            int status;
            std::string err_part;  // the message, in the report
        } cases[] = {
            {"sdkarchs", brackets(2000, '[', ']'), 0, ""},
            {"sdkarchs", brackets(2001, '[', ']'), 1, json_too_deep},
            {"sdkarchs", objects(2000), 0, ""},
            {"sdkarchs", objects(2001), 1, json_too_deep},
            {"sdkarchs", brackets(1000000, '[', ']'), 1, json_too_deep},
            {"xml2jack", nested_class_xml(xml_limit, 0), 0, ""},
            {"xml2jack", nested_class_xml(xml_limit + 1, 0), 1, xml_too_deep},
            {"xml2vm", nested_class_xml(xml_limit, 0), 0, ""},
            {"treecopy", nested_class_xml(xml_limit + 1, 0), 1, xml_too_deep},
            {"exprfold", nested_class_xml(xml_limit + 1, 0), 1, xml_too_deep},
            {"treecopy", terms, 1, xml_too_deep},
            {"jack2xml", parens(300), 0, ""},
            {"jack2xml", parens(100000), 1, "expected nesting no deeper than 2500 tree levels but found \"(\"\n"},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(std::string(c.name) + " on " + c.input.substr(0, 40));
            const process_result r = run(c.name, c.input);
            expect_handled(c.name, r);
            EXPECT_EQ(r.exit_code, c.status);
            if (c.status != 0)
            {
                EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err.substr(0, 400);
            }
        }
    }

    // A class of 20,000 statements: 5 MB as one line, more than 10 MB as the
    // passes write it.
    std::string large_class_xml()
    {
        const std::string statement =
            "<statement><let><var><var-segment>local</var-segment><var-name>x</var-name><var-offset>0</var-offset>"
            "<var-type>int</var-type></var><expr><term><int><ic>1</ic></int></term><op><i-op>+</i-op></op><term>"
            "<int><ic>2</ic></int></term></expr></let></statement>";
        std::string xml =
            "<class><class-name>Big</class-name><class-var-decs></class-var-decs><class-var-decs></class-var-decs>"
            "<subr-decs><subr><function><vtype>void</vtype><name>f</name><param-list></param-list><subr-body>"
            "<var-decs></var-decs><statements>";
        for (int i = 0; i < 20000; i++)
            xml += statement;
        return xml + "</statements></subr-body></function></subr></subr-decs></class>";
    }

    // Passing the output volume limit is a failure, and with the output held
    // back nothing of the tree is written at all.
    TEST(HostileInput, OutputVolumeLimitReachedByThePasses)
    {
        const std::string xml = large_class_xml();
        for (const char *name : {"treecopy", "exprfold"})
        {
            SCOPED_TRACE(name);
            const process_result streamed = run(name, xml);
            ASSERT_TRUE(streamed.exited);
            EXPECT_EQ(streamed.exit_code, 1);
            EXPECT_EQ(streamed.err, volume_report);
            EXPECT_GT(streamed.out.size(), 10000000u);

            const process_result held = run(name, xml, {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_buffer"}});
            ASSERT_TRUE(held.exited);
            EXPECT_EQ(held.exit_code, 1);
            EXPECT_EQ(held.err, volume_report);
            EXPECT_EQ(held.out, "");
        }
    }

    // A failing input under every setting of every stream variable: status
    // 1 whatever they say, nothing on standard output, and the report unless
    // the errors are held (quiet) or shown without their context.
    TEST(HostileInput, EveryStreamSettingWithAFailingInput)
    {
        const struct
        {
            const char *name;
            std::string input;
            std::string message;  // the report without context
        } failures[] = {
            {"treecopy", "<class><class-name>M</class-name></class>", "\nParse Error! missing open tag\n\n"},
            {"xml2jack", "<class>", "\nParse Error! missing open tag\n\n"},
            {"jack2xml", "class", "expected a class name but found end of input\nclass\n     ^\n"},
            {"sdkarchs", "[1,]", "\n 1: [1,]\n       ^\nFound token \"]\" but expected \"value\"\n\n"},
        };
        const char *const variables[] = {"LUMTOOLS_IOBUFFER_OUTPUT", "LUMTOOLS_IOBUFFER_ERRORS",
                                         "LUMTOOLS_IOBUFFER_TRACES", "LUMTOOLS_IOBUFFER_LOGS"};
        const char *const options[] = {"iob_default",     "iob_enable",    "iob_disable",    "iob_not_permitted",
                                       "iob_buffer",      "iob_loud_buffer", "iob_immediate", "iob_buffer_why",
                                       "iob_context",     "iob_no_context", "unknown:iob_buffer:iob_immediate"};
        for (const auto &f : failures)
        {
            const process_result plain = run(f.name, f.input);
            ASSERT_EQ(plain.exit_code, 1);
            ASSERT_TRUE(ends_with(plain.err, "error: " + f.message)) << plain.err;
            for (const char *variable : variables)
                for (const char *option : options)
                {
                    SCOPED_TRACE(std::string(f.name) + " with " + variable + "=" + option);
                    const process_result r = run(f.name, f.input, {{variable, option}});
                    ASSERT_TRUE(r.exited);
                    EXPECT_EQ(r.exit_code, 1);
                    EXPECT_EQ(r.out, "");
                    std::string expected = plain.err;
                    // A compiler's diagnostics are not held or cut by the
                    // stream settings: they are the program's result.
                    const bool diagnostics = std::string(f.name) == "jack2xml";
                    if (!diagnostics && std::string(variable) == "LUMTOOLS_IOBUFFER_ERRORS" &&
                        std::string(option) == "iob_buffer")
                        expected = "";
                    if (!diagnostics && std::string(variable) == "LUMTOOLS_IOBUFFER_ERRORS" &&
                        std::string(option) == "iob_no_context")
                        expected = f.message;
                    EXPECT_EQ(r.err, expected);
                }
        }
    }
}
