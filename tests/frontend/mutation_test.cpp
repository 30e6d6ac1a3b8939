// One token replaced or deleted at a seeded random place in a class that
// compiles: the first error points into the statement or declaration that
// was changed, and no mutation gives more than two errors.
#include "tests/support/process.h"
#include "tests/support/random_program.h"

#include <gtest/gtest.h>

#include <random>

using test_support::process_options;
using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    struct token
    {
        size_t offset, length;
        int line;
        std::string text;
    };

    // The tokens of a Jack class, comments and blanks left out.
    std::vector<token> tokens_of(const std::string &s)
    {
        std::vector<token> tokens;
        int line = 1;
        for (size_t i = 0; i < s.size();)
        {
            const char c = s[i];
            if (c == '\n' || c == ' ' || c == '\t' || c == '\r')
            {
                line += c == '\n';
                i++;
                continue;
            }
            if (s.compare(i, 2, "//") == 0)
            {
                i = s.find('\n', i);
                i = i == std::string::npos ? s.size() : i;
                continue;
            }
            if (s.compare(i, 2, "/*") == 0)
            {
                const size_t end = s.find("*/", i + 2) + 2;
                for (; i < end; i++)
                    line += s[i] == '\n';
                continue;
            }
            size_t n = 1;
            if (c == '"')
                n = s.find('"', i + 1) - i + 1;
            else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_')
                while (i + n < s.size() && (std::isalnum(static_cast<unsigned char>(s[i + n])) || s[i + n] == '_'))
                    n++;
            tokens.push_back(token{i, n, line, s.substr(i, n)});
            i += n;
        }
        return tokens;
    }

    // For each token, the first and last line of the innermost statement or
    // declaration that holds it; the whole class for its header and braces.
    std::vector<std::pair<int, int>> units_of(const std::vector<token> &tokens)
    {
        struct unit
        {
            size_t first;
            int depth;
            bool block;
        };
        std::vector<std::pair<int, int>> range(tokens.size(), {1, tokens.back().line});
        std::vector<size_t> owner(tokens.size(), SIZE_MAX);
        std::vector<unit> open;
        std::vector<std::pair<size_t, size_t>> units;  // first, last token
        int depth = 0;
        for (size_t i = 0; i < tokens.size(); i++)
        {
            const std::string &t = tokens[i].text;
            const bool block = t == "constructor" || t == "function" || t == "method" || t == "if" || t == "while";
            if (block || t == "static" || t == "field" || t == "var" || t == "let" || t == "do" || t == "return")
                open.push_back(unit{i, depth, block});
            if (!open.empty())
                owner[i] = open.back().first;
            if (t == "{")
                depth++;
            else if (t == "}")
            {
                depth--;
                const bool else_follows = i + 1 < tokens.size() && tokens[i + 1].text == "else";
                if (!open.empty() && open.back().block && open.back().depth == depth && !else_follows)
                {
                    units.push_back({open.back().first, i});
                    open.pop_back();
                }
            }
            else if (t == ";" && !open.empty() && !open.back().block)
            {
                units.push_back({open.back().first, i});
                open.pop_back();
            }
        }
        for (size_t i = 0; i < tokens.size(); i++)
            for (const auto &u : units)
                if (u.first == owner[i])
                    range[i] = {tokens[u.first].line, tokens[u.second].line};
        return range;
    }

    // The lines of the errors jack2xml reports, in order.
    std::vector<int> error_lines(const std::string &report)
    {
        std::vector<int> lines;
        for (size_t at = 0; at < report.size(); at = report.find('\n', at) + 1)
        {
            const size_t colon = report.find(':', at);
            if (report.compare(at, 8, "<stdin>:") == 0 && report.find(": error: ", at) < report.find('\n', at))
                lines.push_back(std::stoi(report.substr(colon + 1)));
            if (report.find('\n', at) == std::string::npos)
                break;
        }
        return lines;
    }

    TEST(Mutation, OneWrongTokenGivesOneReportWhereItStands)
    {
        std::vector<std::string> classes;
        for (const char *name : {"examples/mandelbrot/Main.jack", "examples/mandelbrot/Fixed.jack",
                                 "examples/mandelbrot/Mandelbrot.jack", "examples/mandelbrot/Tally.jack",
                                 "examples/Square.jack", "examples/Fold.jack"})
            classes.push_back(test_support::source_file(name));
        for (unsigned seed = 1; seed <= 8; seed++)
            for (const auto &file : test_support::random_program(seed))
                classes.push_back(file.second);

        const char *const replacements[] = {";", ")", "(", "{", "}", "=", "let", "+", ".", "1"};
        std::mt19937 rng(20261209);
        int with_errors = 0;
        for (const std::string &original : classes)
        {
            const std::vector<token> tokens = tokens_of(original);
            const auto units = units_of(tokens);
            for (int k = 0; k < 12; k++)
            {
                const size_t i = rng() % tokens.size();
                const bool remove = rng() % 3 == 0;
                const std::string with = remove ? "" : replacements[rng() % std::size(replacements)];
                if (with == tokens[i].text)
                    continue;
                std::string mutated = original;
                mutated.replace(tokens[i].offset, tokens[i].length, with.empty() ? "" : " " + with + " ");
                process_options options;
                options.input = mutated;
                const process_result r = run_process({program("jack2xml")}, options);
                const std::vector<int> lines = error_lines(r.err);
                std::string errors;
                for (size_t at = r.err.find(": error: "); at != std::string::npos; at = r.err.find(": error: ", at + 1))
                    errors += r.err.substr(r.err.rfind('\n', at) + 1, r.err.find('\n', at) - r.err.rfind('\n', at)) + "";
                SCOPED_TRACE((remove ? "deleting \"" : "replacing \"") + tokens[i].text + "\" on line " +
                             std::to_string(tokens[i].line) + (remove ? "" : " by \"" + with + "\"") + "\n" +
                             errors);
                if (lines.empty())
                    continue;
                with_errors++;
                EXPECT_LE(lines.size(), 2u);
                EXPECT_GE(lines[0], units[i].first);
                EXPECT_LE(lines[0], units[i].second);
            }
        }
        EXPECT_GT(with_errors, 400);
    }
}
