#include "tests/support/temporary_file.h"
#include "tests/tools/sdkarchs/json_test_support.h"
#include "tools/sdkarchs/json_value.h"

#include <gtest/gtest.h>
#include <random>

using namespace JSON_Parser;
using json_test::report;
using json_test::run;
using test_support::program;

namespace
{

    const std::string both = " -arch x86_64 -arch arm64 \n";
    const std::string x86 = " -arch x86_64 \n";

    // A one-line token context with the caret under the given column.
    std::string context(const std::string &line, int column)
    {
        return " 1: " + line + "\n" + std::string(static_cast<std::size_t>(3 + column), ' ') + "^\n";
    }

    std::string found(const std::string &spelling, const std::string &expected)
    {
        return "Found token \"" + spelling + "\" but expected \"" + expected + "\"\n";
    }

    std::string doc(const std::string &archs)
    {
        return "{\"SupportedTargets\": {\"macosx\": {\"Archs\": " + archs + "}}}";
    }

    std::string repeat(const std::string &text, int times)
    {
        std::string result;
        for (int i = 0; i < times; i++)
            result += text;
        return result;
    }

    const std::string too_deep = "nesting too deep: more than 2000 levels of arrays and objects\n";

    struct tree_case
    {
        const char *name;
        std::string input;
        std::string tree;
        std::string next;  // the one token read after the root
    };
    void PrintTo(const tree_case &c, std::ostream *os) { *os << c.name; }

    class Parser : public testing::TestWithParam<tree_case>
    {
    };

    TEST_P(Parser, BuildsTheValueTree)
    {
        const tree_case &c = GetParam();
        EXPECT_EQ(run({JSON_PROBE, "tree"}, c.input).out, c.tree + "\nnext " + c.next + "\n");
    }

    INSTANTIATE_TEST_SUITE_P(Documents, Parser, testing::Values(
        tree_case{"EveryKind", R"({"a": [1, -2.5e3, "x"], "b": {}, "c": [], "d": true, "e": false, "f": null})",
                  R"({"a":[1,-2.5e3,"x"],"b":{},"c":[],"d":true,"e":false,"f":null})",
                  "{kind: end of input, spelling: \"\", line: 1, column: 75}"},
        tree_case{"DuplicateKeysAllKeptInOrder", R"({"k":1,"k":2,"j":{"k":3}})", R"({"k":1,"k":2,"j":{"k":3}})",
                  "{kind: end of input, spelling: \"\", line: 1, column: 25}"},
        tree_case{"KeysAreDecoded", R"({"\u0041rchs":1,"\u0141":2})", R"({"Archs":1,"\xC5\x81":2})",
                  "{kind: end of input, spelling: \"\", line: 1, column: 27}"},
        tree_case{"OnlyOneTokenAfterTheRootIsRead", "[1] ]]] {\"unterminated", "[1]",
                  "{kind: ], spelling: \"]\", line: 1, column: 5}"},
        tree_case{"ScalarRoot", "\n\"s\" 1", "\"s\"", "{kind: number, spelling: \"1\", line: 2, column: 5}"}));

    struct run_case
    {
        const char *name;
        std::string input;
        std::string out;
        std::string err;
        int status;
        std::vector<std::pair<std::string, std::string>> env = {};
    };
    void PrintTo(const run_case &c, std::ostream *os) { *os << c.name; }

    class Sdkarchs : public testing::TestWithParam<run_case>
    {
    };

    TEST_P(Sdkarchs, PrintsFlagsOrReportsTheError)
    {
        const run_case &c = GetParam();
        const auto result = run({program("sdkarchs")}, c.input, c.env);
        ASSERT_TRUE(result.exited) << "signal " << result.signal;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.exit_code, c.status);
    }

    INSTANTIATE_TEST_SUITE_P(Flags, Sdkarchs, testing::Values(
        run_case{"BothArchs", doc(R"(["x86_64", "arm64"])"), both, "", 0},
        run_case{"OtherArchsIgnored", doc(R"(["x86_64", "i386", "arm64e"])"), x86, "", 0},
        run_case{"ArchsIsAString", doc(R"("arm64")"), x86, "", 0},
        run_case{"ArchsNestedTooDeep", doc(R"([["arm64"]])"), x86, "", 0},
        run_case{"ArchsAbsent", R"({"SupportedTargets": {"macosx": {"arm64": ["arm64"]}}})", x86, "", 0},
        run_case{"MacosxAbsent", R"({"SupportedTargets": {"linux": {"Archs": ["arm64"]}}})", x86, "", 0},
        run_case{"RootIsAnArray", "[" + doc(R"(["arm64"])") + "]", x86, "", 0},
        run_case{"EscapedKeyAndValueMatch", R"({"SupportedTargets": {"macosx": {"\u0041rchs": ["arm\u0036\u0034"]}}})",
                 both, "", 0},
        run_case{"WideEscapeDoesNotMatchByItsLowByte", R"({"SupportedTargets": {"macosx": {"\u0141rchs": ["arm64"]}}})",
                 x86, "", 0},
        run_case{"FirstDuplicateWins", R"({"SupportedTargets": {"macosx": {"Archs": ["arm64"], "Archs": []}}})",
                 both, "", 0},
        run_case{"LaterDuplicateIgnored", R"({"SupportedTargets": {"macosx": {}, "macosx": {"Archs": ["arm64"]}}})",
                 x86, "", 0},
        run_case{"TrailingTextIgnored", doc(R"(["arm64"])") + " ]] trailing {", both, "", 0},
        run_case{"CarriageReturnsTabsAndUtf8", "{\r\n\t\"Name\": \"Caf\xC3\xA9 \\u20AC\",\r\n\t\"SupportedTargets\":"
                                               " {\"macosx\": {\"Archs\": [\"arm64\"]}}\r\n}\r\n", both, "", 0},
        run_case{"OutputSettingsDoNotApply", doc(R"(["arm64"])"), both, "", 0,
                 {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_disable"}}},
        run_case{"DeepestNestingAllowed", repeat("[", 2000) + repeat("]", 2000), x86, "", 0},
        run_case{"DeepestObjectsAllowed", repeat("{\"a\":", 2000) + "1" + repeat("}", 2000), x86, "", 0}));

    INSTANTIATE_TEST_SUITE_P(Errors, Sdkarchs, testing::Values(
        run_case{"EmptyInput", "", "", report("\n" + context("", 0) + found("", "value")), 1},
        run_case{"TrailingCommaInArray", "[1,]", "", report("\n" + context("[1,]", 4) + found("]", "value")), 1},
        run_case{"TrailingCommaInObject", R"({"a":1,})", "",
                 report("\n" + context(R"({"a":1,})", 8) + found("}", "string")), 1},
        run_case{"MissingColon", R"({"a" 1})", "", report("\n" + context(R"({"a" 1})", 6) + found("1", ":")), 1},
        run_case{"ErrorOnALaterLine", "{\n  \"a\": [1,\n  2,,\n]}", "",
                 report("\n 2:   \"a\": [1,\n 3:   2,,\n        ^\n" + found(",", "value")), 1},
        run_case{"BadStringCharacter", "{\"a\": \"x\ny\"}", "",
                 "bad string char 10\n" + report("\n" + context("{\"a\": \"x", 7) + found("", "value")), 1},
        run_case{"LexicalErrorInAKey", R"({"a\q": 1})", "", report("\n" + context(R"({"a\q)", 2) + found("", "}")), 1},
        run_case{"QuietWhenErrorsAreBuffered", "[1,]", "", "", 1, {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_buffer"}}},
        run_case{"NestingTooDeep", repeat("[", 2001) + repeat("]", 2001), "",
                 report("***** Error:\n" + context(repeat("[", 2001) + "]", 2001) + too_deep), 1},
        run_case{"FarTooDeepIsRefusedNotACrash", repeat("[", 300000), "",
                 report("***** Error:\n" + context(repeat("[", 2002), 2001) + too_deep), 1}));

    // sdkarchs keeps only the value it asks for, but reads and checks the
    // rest of the document as the whole-tree parser does: its output, report
    // and status are those of parsing the whole tree and looking the Archs
    // up in it, for errors before, inside and after the Archs array.
    class SameAsWholeTree : public testing::TestWithParam<std::string>
    {
    };

    TEST_P(SameAsWholeTree, OutputReportAndStatus)
    {
        const auto ours = run({program("sdkarchs")}, GetParam());
        const auto whole = run({JSON_PROBE, "flags"}, GetParam());
        ASSERT_TRUE(ours.exited) << "signal " << ours.signal;
        EXPECT_EQ(ours.out, whole.out);
        EXPECT_EQ(ours.err, whole.err);
        EXPECT_EQ(ours.exit_code, whole.exit_code);
    }

    INSTANTIATE_TEST_SUITE_P(Documents, SameAsWholeTree, testing::Values(
        doc(R"(["x86_64", "arm64"])"),
        doc(R"(["arm64",])"),
        doc(R"(["arm64"])") + ",",
        R"({"Other": {"a": 1,}, "SupportedTargets": {"macosx": {"Archs": ["arm64"]}}})",
        R"({"Other": [{"x": [1, {"y": null}]}], "SupportedTargets": {"macosx": {"Archs": ["arm64"]}}, "z": [true)",
        R"({"SupportedTargets": {"macosx": {"Archs": ["arm64"]}}, "SupportedTargets": [1 2]})",
        R"({"SupportedTargets": [], "SupportedTargets": {"macosx": {"Archs": ["arm64"]}}})",
        R"({"SupportedTargets": {"macosx": {"Archs": ["arm64"] "more": 1}}})",
        R"({"SupportedTargets": {"macosx": "Archs"}})",
        R"({"SupportedTargets": {"macosx": {"Archs": {"arm64": "arm64"}}}})",
        R"({"SupportedTargets": {"macosx": {"Archs": ["arm64", {"deep": [1, 2, "bad\x"]}]}}})",
        "{\"a\": " + repeat("[", 2001),
        "{\"a\": " + repeat("{\"b\": ", 1999) + "1" + repeat("}", 1999) + ", \"SupportedTargets\": 1}",
        "{\"SupportedTargets\": " + repeat("{\"macosx\": ", 2001),
        "{\"SupportedTargets\": {\"macosx\": {\"Archs\": " + repeat("[", 1998) + repeat("]", 1998) + "}}}",
        "{\"SupportedTargets\": {\"macosx\": {\"Archs\": " + repeat("[", 1999) + repeat("]", 1999) + "}}}",
        "{\"SupportedTargets\": {\"macosx\": {\"Archs\": [\"arm64\"]}}, \"x\": \"tab\there\"}",
        "[" + repeat("{\"a\": [1, 2], \"b\": \"x\"},", 1000) + "1,]"));

    // The root and its closing token count; so does the end of input read after it.
    INSTANTIATE_TEST_SUITE_P(TokenLimit, Sdkarchs, testing::Values(
        run_case{"AMillionAndOneTokens", "[[]" + repeat(",0", 499998) + "]", x86, "", 0},
        run_case{"OneMore", "[[[]]" + repeat(",0", 499998) + "]", "",
                 report("attempted to create more than 1,000,000 tokens, the program is probably stuck in a loop"),
                 255}));

    TEST(SdkarchsExample, BundledSettingsFileHasBothArchs)
    {
        const auto result = run({program("sdkarchs")}, test_support::source_file("examples/sdk_settings.json"));
        EXPECT_EQ(result.out, both);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exit_code, 0);
    }

    TEST(SdkarchsStreams, FailedReadOrWriteIsAnError)
    {
        const auto written = run({"/bin/sh", "-c", "exec \"$0\" > /dev/full", program("sdkarchs")}, doc("[]"));
        EXPECT_EQ(written.err, report("could not write the flags to standard output"));
        EXPECT_EQ(written.exit_code, 1);
        const auto read = run({"/bin/sh", "-c", "exec \"$0\" < /", program("sdkarchs")}, "");
        EXPECT_EQ(read.out + read.err, report("could not read standard input"));
        EXPECT_EQ(read.exit_code, 1);
    }

    // Random documents whose keys come from a pool holding the names of the
    // Archs path, so that paths appear, break and shadow one another; a path
    // is also planted at a random place in most of them.
    class document_generator
    {
    public:
        explicit document_generator(unsigned seed) : random(seed) {}

        jsonv document()
        {
            jsonv root = pick(8) == 0 ? value(2) : object(2);
            jsonv *at = &root;
            for (const char *key : {"SupportedTargets", "macosx", "Archs"})
            {
                if (at->kind != json_object || pick(6) == 0)
                    break;
                const auto place = at->members.begin() + pick(static_cast<int>(at->members.size()) + 1);
                at = &at->members.insert(place, {key, key[0] == 'A' ? archs() : object(1)})->value;
            }
            return root;
        }

        // The document's text, with random layout and escapes.
        std::string write(const jsonv &value)
        {
            std::string text;
            for (const jsonm &member : value.members)
                text += (text.empty() ? blank() : "," + blank()) + quote(member.key) + blank() + ":" + blank() +
                        write(member.value);
            for (const jsonv &element : value.elements)
                text += (text.empty() ? blank() : "," + blank()) + write(element);
            if (value.kind == json_object || value.kind == json_array)
                return (value.kind == json_object ? "{" : "[") + text + blank() + (value.kind == json_object ? "}" : "]");
            return value.kind == json_string ? quote(value.text) : value.text;
        }

    private:
        std::mt19937 random;

        int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

        std::string blank()
        {
            static const char *const blanks[] = {"", "", " ", "\n", "\t", "\r\n", "  \r"};
            return blanks[pick(7)];
        }

        std::string quote(const std::string &decoded)
        {
            std::string text = "\"";
            for (char c : decoded)
            {
                char escape[7];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                if (c == '"' || c == '\\')
                    text += pick(2) == 0 ? std::string("\\") + c : escape;
                else
                    text += c > 0 && pick(6) == 0 ? escape : std::string(1, c);
            }
            return text + "\"";
        }

        std::string name()
        {
            static const char *const names[] = {"SupportedTargets", "macosx", "Archs", "arm64", "x86_64", "a",
                                                "\"q\"\\", "caf\xC3\xA9", "\xE2\x82\xAC", ""};
            return names[pick(10)];
        }

        jsonv archs()
        {
            static const char *const names[] = {"x86_64", "arm64", "arm64", "i386", "ARM64", "arm64e"};
            if (pick(6) == 0)
                return value(1);
            jsonv array{json_array, "", {}, {}};
            for (int i = pick(4); i > 0; i--)
                array.elements.push_back({json_string, names[pick(6)], {}, {}});
            return array;
        }

        jsonv object(int depth)
        {
            jsonv result{json_object, "", {}, {}};
            for (int i = pick(4); i > 0; i--)
                result.members.push_back({name(), value(depth - 1)});
            return result;
        }

        jsonv value(int depth)
        {
            static const char *const numbers[] = {"0", "-0", "12", "-3.25", "1e10", "6.02E+23", "-1.5e-3"};
            switch (pick(depth > 0 ? 7 : 5))
            {
            case 0: return {json_true, "true", {}, {}};
            case 1: return {json_false, "false", {}, {}};
            case 2: return {json_null, "null", {}, {}};
            case 3: return {json_number, numbers[pick(7)], {}, {}};
            case 4: return {json_string, name(), {}, {}};
            case 5:
            {
                jsonv array{json_array, "", {}, {}};
                for (int i = pick(4); i > 0; i--)
                    array.elements.push_back(value(depth - 1));
                return array;
            }
            default: return object(depth);
            }
        }
    };

    const jsonv *member(const jsonv *value, const std::string &key)
    {
        for (std::size_t i = 0; value != nullptr && i < value->members.size(); i++)
            if (value->members[i].key == key)
                return &value->members[i].value;
        return nullptr;
    }

    TEST(SdkarchsProperty, RandomDocumentsReadBackAndGiveTheFlagsOfTheirArchs)
    {
        int with_arm64 = 0;
        for (unsigned seed = 1; seed <= 150; seed++)
        {
            document_generator generator(seed);
            const jsonv model = generator.document();
            const std::string text = generator.write(model);
            SCOPED_TRACE("seed " + std::to_string(seed) + ": " + text);

            const jsonv *archs = member(member(member(&model, "SupportedTargets"), "macosx"), "Archs");
            bool arm64 = false;
            for (std::size_t i = 0; archs != nullptr && i < archs->elements.size(); i++)
                arm64 = arm64 || archs->elements[i].text == "arm64";
            with_arm64 += arm64;

            const auto tree = run({JSON_PROBE, "tree"}, text);
            EXPECT_EQ(tree.out.substr(0, tree.out.find("\nnext ")), json_test::dump(model));
            const auto flags = run({program("sdkarchs")}, text);
            EXPECT_EQ(flags.out, arm64 ? both : x86);
            EXPECT_EQ(flags.err, "");
            EXPECT_EQ(flags.exit_code, 0);
        }
        EXPECT_GT(with_arm64, 15);  // the interesting case is really exercised
        EXPECT_LT(with_arm64, 135);
    }

    // Taking runs of blanks and string characters from the stream's buffer
    // must read exactly what taking one byte at a time reads: the same
    // tokens at the same places, the same line texts in a token's context.
    // Standard input is a pipe, whose reads end where the writes do, and a
    // file, whose reads end every 4 KiB, across runs longer than that.
    TEST(SdkarchsInput, TakingRunsInPlaceReadsAsByteByByte)
    {
        std::vector<std::string> inputs = {
            test_support::source_file("examples/sdk_settings.json"),
            "{\"a\":\t\"x\ty\",\r\n  \"b\" :\r [ \"\\u00e9\\\"\\n\",  1e3 ,\t-0.5 ]}",
            "  \"unterminated    string",
            "[\"control \x01 byte\"]",
            "\"" + std::string(9000, 'v') + "\\\"" + std::string(5000, 'w') + "\"  " + std::string(9000, ' ') + "true",
            std::string(10000, ' ') + "\t  [ " + std::string(3000, ' ') + "null" + std::string(4100, ' '),
        };
        for (unsigned seed = 1; seed <= 20; seed++)
        {
            document_generator generator(seed);
            inputs.push_back(generator.write(generator.document()));
        }
        const test_support::temporary_file file;
        for (const std::string &input : inputs)
        {
            SCOPED_TRACE(input.substr(0, 80));
            file.write(input);
            for (const std::vector<std::string> &argv :
                 {std::vector<std::string>{JSON_PROBE, "tokens", "400"}, {JSON_PROBE, "context", "7"},
                  {JSON_PROBE, "context", "40"}})
            {
                const auto bytewise = run(argv, input, {{"JSON_PROBE_BYTEWISE", "1"}});
                const auto from_pipe = run(argv, input);
                const auto from_file = run(argv, "", {{"JSON_PROBE_FILE", file.path()}});
                for (const auto *in_place : {&from_pipe, &from_file})
                {
                    EXPECT_EQ(in_place->exit_code, bytewise.exit_code) << argv[1];
                    EXPECT_EQ(in_place->out, bytewise.out) << argv[1];
                    EXPECT_EQ(in_place->err, bytewise.err) << argv[1];
                }
            }
        }
    }
}
