#include "tests/tools/sdkarchs/json_test_support.h"
#include "tools/sdkarchs/tokeniser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace JSON_Parser;
using json_test::report;
using json_test::run;

namespace
{

    std::string tok(const std::string &kind, const std::string &spelling, int line, int column)
    {
        return "{kind: " + kind + ", spelling: \"" + spelling + "\", line: " + std::to_string(line) +
               ", column: " + std::to_string(column) + "}\n";
    }
    std::string eoi(int line, int column) { return tok("end of input", "", line, column); }
    std::string num(const std::string &text, int line, int column) { return tok("number", text, line, column); }
    std::string str(const std::string &text, int line, int column) { return tok("string", text, line, column); }

    struct token_case
    {
        const char *name;
        std::string input;
        std::vector<std::string> tokens;
        std::string err = "";  // what the scanner itself reports on standard error
    };
    void PrintTo(const token_case &c, std::ostream *os) { *os << c.name; }

    class Tokens : public testing::TestWithParam<token_case>
    {
    };

    TEST_P(Tokens, HaveKindSpellingLineAndColumn)
    {
        const token_case &c = GetParam();
        const auto result = run({JSON_PROBE, "tokens", std::to_string(c.tokens.size())}, c.input);
        std::string expected;
        for (const std::string &t : c.tokens)
            expected += t;
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(result.err, c.err);
    }

    const std::vector<std::string> line_ends = {tok("[", "[", 1, 1), num("1", 2, 1), tok(",", ",", 2, 2),
                                                num("2", 3, 1), tok("]", "]", 4, 1), eoi(4, 1)};

    INSTANTIATE_TEST_SUITE_P(Layout, Tokens, testing::Values(
        token_case{"EmptyInputIsEndOfInputOnLineZero", "", {eoi(0, 0), eoi(0, 0)}},
        token_case{"ArrayOfNumbers", "[1, 2]", {tok("[", "[", 1, 1), num("1", 1, 2), tok(",", ",", 1, 3),
                                                num("2", 1, 5), tok("]", "]", 1, 6), eoi(1, 6), eoi(1, 6)}},
        token_case{"LinesAndKeywords", "{\n  \"a\" : true,\n\"b\":[false,null]}",
                   {tok("{", "{", 1, 1), str("a", 2, 3), tok(":", ":", 2, 7), tok("true", "true", 2, 9),
                    tok(",", ",", 2, 13), str("b", 3, 1), tok(":", ":", 3, 4), tok("[", "[", 3, 5),
                    tok("false", "false", 3, 6), tok(",", ",", 3, 11), tok("null", "null", 3, 12),
                    tok("]", "]", 3, 16), tok("}", "}", 3, 17), eoi(3, 17)}},
        token_case{"TabsReachTheNextMultipleOfEight", "\t[1,\t2]",
                   {tok("[", "[", 1, 9), num("1", 1, 10), tok(",", ",", 1, 11), num("2", 1, 17)}},
        token_case{"LineFeeds", "[\n1,\n2\n]\n", line_ends},
        token_case{"CarriageReturnsCountAsLineEnds", "[\r\n1,\r2\r\n]\r", line_ends},
        token_case{"NumbersEndWhereTheyStopFitting", "0123 -0.5E+3 1e-7 -0",
                   {num("0", 1, 1), num("123", 1, 2), num("-0.5E+3", 1, 6), num("1e-7", 1, 14),
                    num("-0", 1, 19), eoi(1, 19)}},
        token_case{"CharacterAfterAWordIsNotTested", "truex", {tok("true", "true", 1, 1), eoi(1, 5), eoi(1, 5)}}));

    INSTANTIATE_TEST_SUITE_P(Strings, Tokens, testing::Values(
        token_case{"SimpleEscapes", R"("a\"b\\c\/d\b\f\n\r\t")", {str("a\"b\\c/d\b\f\n\r\t", 1, 1)}},
        token_case{"UnicodeEscapesAreUtf8", R"("\u00e9\u20AC\u0041\u0141")",
                   {str("\xC3\xA9\xE2\x82\xAC" "A\xC5\x81", 1, 1)}},
        token_case{"SurrogatePairIsOneCodePoint", R"("\uD83D\uDE00")", {str("\xF0\x9F\x98\x80", 1, 1)}},
        token_case{"LoneSurrogatesAreReplaced", R"("\uD800|\uDC00|\uD800\n|\uD800\uD800\uDC00")",
                   {str("\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD\n|\xEF\xBF\xBD\xF0\x90\x80\x80", 1, 1)}},
        token_case{"RawHighBytesAreKept", "\"caf\xC3\xA9 \x7F\xFF\"", {str("caf\xC3\xA9 \x7F\xFF", 1, 1)}},
        token_case{"TabInsideAStringBecomesBlanks", "\"a\tb\"", {str("a      b", 1, 1), eoi(1, 1)}}));

    // A lexical error ends the stream with end-of-input tokens at the start
    // of the token being scanned; only bad string characters are reported.
    INSTANTIATE_TEST_SUITE_P(LexicalErrors, Tokens, testing::Values(
        token_case{"MinusWithoutDigit", "[-a", {tok("[", "[", 1, 1), eoi(1, 2), eoi(1, 2)}},
        token_case{"PointWithoutDigit", "[1.", {tok("[", "[", 1, 1), eoi(1, 2)}},
        token_case{"ExponentWithoutDigit", "[1e+]", {tok("[", "[", 1, 1), eoi(1, 2)}},
        token_case{"IncompleteWord", "[nul]", {tok("[", "[", 1, 1), eoi(1, 2)}},
        token_case{"UnknownCharacter", "[@", {tok("[", "[", 1, 1), eoi(1, 2)}},
        token_case{"HighByteOutsideAStringTakesNoColumn", "[\xE9", {tok("[", "[", 1, 1), eoi(1, 1)}},
        token_case{"UnknownEscape", R"(["a\x"])", {tok("[", "[", 1, 1), eoi(1, 2)}},
        token_case{"NonHexDigit", R"(["\u12G4"])", {tok("[", "[", 1, 1), eoi(1, 2)}},
        token_case{"ShortUnicodeEscape", R"(["\u12"])", {tok("[", "[", 1, 1), eoi(1, 2)}},
        token_case{"LineFeedInString", "[\n \"a\nb\"]", {tok("[", "[", 1, 1), eoi(2, 2), eoi(2, 2)},
                   "bad string char 10\n"},
        token_case{"CarriageReturnInString", "\"a\r\"", {eoi(1, 1)}, "bad string char 10\n"},
        token_case{"ControlByteInString", "\"a\x01\"", {eoi(1, 1)}, "bad string char 1\n"},
        token_case{"EndOfInputInString", "\"abc", {eoi(1, 1), eoi(1, 1)}, "bad string char -1\n"}));

    struct context_case
    {
        const char *name;
        std::string input;
        int token;  // the context of this token (counted from 1) is shown
        std::string context;
        std::string err = "";
    };
    void PrintTo(const context_case &c, std::ostream *os) { *os << c.name; }

    class Contexts : public testing::TestWithParam<context_case>
    {
    };

    TEST_P(Contexts, ShowTheLinesReadSoFarWithACaret)
    {
        const context_case &c = GetParam();
        const auto result = run({JSON_PROBE, "context", std::to_string(c.token)}, c.input);
        EXPECT_EQ(result.out, c.context);
        EXPECT_EQ(result.err, c.err);
    }

    INSTANTIATE_TEST_SUITE_P(Carets, Contexts, testing::Values(
        context_case{"EmptyInput", "", 1, " 1: \n   ^\n"},
        context_case{"CaretUnderTheToken", "[1,]", 4, " 1: [1,]\n       ^\n"},
        context_case{"PreviousLineShown", "[1,\n 2]", 4, " 1: [1,\n 2:  2]\n     ^\n"},
        context_case{"PrefixesDifferInWidth", std::string(9, '\n') + "[1]", 1, " 9: \n 10: [1\n     ^\n"},
        context_case{"TabsShownAsBlanks", "\t\"x\"", 1, " 1:         \"x\"\n            ^\n"},
        context_case{"CarriageReturnLineEnd", "[\r\n1]", 2, " 1: [\n 2: 1]\n    ^\n"},
        context_case{"BadStringCaretAtItsQuote", "[\"ab\ncd\"]", 2, " 1: [\"ab\n     ^\n",
                     "bad string char 10\n"}));

    TEST(TokenKinds, SpellingsBothWays)
    {
        const std::vector<std::string> spellings = {
            "", "tk_first", "[", "]", ",", "{", "}", ":", "string", "number", "true", "false",
            "null", "end of input", "value", "elements", "members", "oops", "tk_last", ""};
        for (int kind = 3999; kind <= 4018; kind++)
            EXPECT_EQ(token_kind_to_string(static_cast<TokenKind>(kind)), spellings[kind - 3999]) << kind;
        for (int kind : {tk_lsb, tk_rsb, tk_comma, tk_lcb, tk_rcb, tk_colon, tk_true, tk_false, tk_null})
            EXPECT_EQ(string_to_token_kind(spellings[kind - 3999]), kind);
        for (const char *text : {"string", "number", "end of input", "value", "", "tru", "tk_first", "[["})
            EXPECT_EQ(string_to_token_kind(text), tk_oops) << text;
    }

    // Death tests run in a fresh process; this gives that process its input.
    void read_from(const std::string &text)
    {
        char path[] = "/tmp/tokeniser_test_XXXXXX";
        const int fd = mkstemp(path);
        if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            close(fd) != 0 || std::freopen(path, "rb", stdin) == nullptr)
            std::abort();
        unlink(path);
    }

    Token handle(std::uint64_t index, std::uint64_t tag = 0x4FD3534)
    {
        return reinterpret_cast<Token>(static_cast<std::uintptr_t>(index << 32 | tag));
    }

    struct fatal_case
    {
        const char *name;
        std::string input;
        std::function<void()> action;
        int status;
        std::string err;
    };
    void PrintTo(const fatal_case &c, std::ostream *os) { *os << c.name; }

    class TokeniserDeathTest : public testing::TestWithParam<fatal_case>
    {
    };

    TEST_P(TokeniserDeathTest, EndsWithReportAndStatus)
    {
        const fatal_case &c = GetParam();
        EXPECT_EXIT({ read_from(c.input); c.action(); std::_Exit(0); }, testing::ExitedWithCode(c.status),
                    testing::Eq(c.err));
    }

    const std::string non_existant = report("attempt to access non-existant token");

    INSTANTIATE_TEST_SUITE_P(Reports, TokeniserDeathTest, testing::Values(
        fatal_case{"MustbeNamesFoundAndExpected", "[1 2]", [] { next_token(); mustbe(tk_lsb); mustbe(tk_number);
                                                               mustbe(tk_comma); }, 1,
                   report("\n 1: [1 2]\n       ^\nFound token \"2\" but expected \",\"\n")},
        fatal_case{"MustbeOnEmptyInput", "", [] { next_token(); mustbe(tk_value); }, 1,
                   report("\n 1: \n   ^\nFound token \"\" but expected \"value\"\n")},
        fatal_case{"DidNotFind", "[1 2]", [] { next_token(); did_not_find(tk_rsb); }, 1,
                   report("\n 1: [1\n    ^\nDid not find token \"]\" but found \"[\"\n")},
        fatal_case{"DidNotFindAMatchIsALogicError", "[1 2]", [] { next_token(); did_not_find(tk_value); }, 1,
                   report("\n 1: [1\n    ^\nLogic error: reported not finding token \"value\" but found \"[\"\n")},
        fatal_case{"FatalTokenContext", "[1 2]", [] { next_token(); next_token(); fatal_token_context("stopped"); },
                   1, report("***** Error:\n 1: [1 \n     ^\nstopped")},
        fatal_case{"HandleLayoutIsIndexAndTag", "[1", [] { next_token(); next_token();
                   std::fputs(token_to_string(handle(1)).c_str(), stderr); }, 0,
                   "{kind: number, spelling: \"1\", line: 1, column: 2}"},
        fatal_case{"NullHandle", "[", [] { next_token(); token_kind(nullptr); }, 255, non_existant},
        fatal_case{"WrongTag", "[", [] { next_token(); token_spelling(handle(0, 0x4FD3535)); }, 255, non_existant},
        fatal_case{"IndexPastTheEnd", "[", [] { next_token(); have(handle(1), tk_lsb); }, 255, non_existant},
        fatal_case{"NegativeIndex", "[", [] { next_token(); token_line(handle(0xFFFFFFFF)); }, 255, non_existant},
        fatal_case{"NoCurrentTokenYet", "[", [] { token_kind(); }, 255,
                   report("attempt to access non-existent token")}));
}
