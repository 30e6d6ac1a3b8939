// Drives the tokeniser and parser on standard input in a fresh process, since
// their tables are process-wide and standard input is read only once.
//
//   json_probe tokens N    prints the first N tokens, one per line
//   json_probe context N   reads N tokens and prints the last one's context
//   json_probe tree        parses one value and prints it and the token after it
//   json_probe flags       prints the -arch flags from the whole tree, as
//                          lookups in it, for comparison with sdkarchs
//
// With JSON_PROBE_BYTEWISE set, standard input is taken a byte at a time;
// with JSON_PROBE_FILE set, it is that file instead of the one inherited.
#include "tests/tools/sdkarchs/json_test_support.h"
#include "tools/sdkarchs/json_parser.h"
#include "tools/sdkarchs/tokeniser.h"
#include "tools/sdkarchs/tokeniser_input.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

using namespace JSON_Parser;

int main(int argc, char **argv)
{
    if (const char *file = std::getenv("JSON_PROBE_FILE"))
        if (std::freopen(file, "rb", stdin) == nullptr)
            return 2;
    json_read_stdin_bytewise(std::getenv("JSON_PROBE_BYTEWISE") != nullptr);
    const std::string mode = argc > 1 ? argv[1] : "";
    const int count = argc > 2 ? std::atoi(argv[2]) : 0;
    std::string out;
    if (mode == "tokens")
        for (int i = 0; i < count; i++)
            out += token_to_string(next_token()) + "\n";
    else if (mode == "context")
    {
        for (int i = 0; i < count; i++)
            next_token();
        out = token_context();
    }
    else if (mode == "tree")
    {
        next_token();
        const jsonv value = parse_value();
        out = json_test::dump(value) + "\nnext " + token_to_string(current_token()) + "\n";
    }
    else if (mode == "flags")
    {
        next_token();
        jsonv archs = lookup_value(lookup_value(lookup_value(parse_value(), "SupportedTargets"), "macosx"), "Archs");
        out = lookup_element(std::move(archs), "arm64").empty() ? " -arch x86_64 \n" : " -arch x86_64 -arch arm64 \n";
    }
    else
    {
        std::fprintf(stderr, "usage: json_probe tokens N | context N | tree | flags\n");
        return 2;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
