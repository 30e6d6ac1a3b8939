// Drives the tokeniser and parser on standard input in a fresh process, since
// their tables are process-wide and standard input is read only once.
//
//   json_probe tokens N    prints the first N tokens, one per line
//   json_probe context N   reads N tokens and prints the last one's context
//   json_probe tree        parses one value and prints it and the token after it
//   json_probe flags       prints the -arch flags from the whole tree, as
//                          lookups in it, for comparison with sdkarchs
#include "tests/tools/sdkarchs/json_test_support.h"
#include "tools/sdkarchs/json_parser.h"
#include "tools/sdkarchs/tokeniser.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

using namespace JSON_Parser;

int main(int argc, char **argv)
{
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
