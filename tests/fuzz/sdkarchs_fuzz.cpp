// The JSON tokeniser and parser as sdkarchs runs them on its standard input,
// checked against the whole-tree parse: reading only the "Archs" value must
// end the same way and find the same flags as building the whole document
// and looking the value up in it, and the whole-tree parse must end the
// same whether standard input is taken in runs or a byte at a time.
#include "tests/fuzz/harness.h"
#include "tools/sdkarchs/json_parser.h"
#include "tools/sdkarchs/tokeniser.h"
#include "tools/sdkarchs/tokeniser_input.h"

#include <utility>

using namespace JSON_Parser;

namespace
{
    const char *flags(bool arm64)
    {
        return arm64 ? " -arch x86_64 -arch arm64 \n" : " -arch x86_64 \n";
    }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_harness::discard_standard_output();
    return 0;
}

namespace
{
    // How the whole-tree parse ends on the input: its status and whether
    // it found arm64.
    std::pair<int, bool> whole_tree(const uint8_t *data, size_t size, bool bytewise)
    {
        reset_tokeniser();
        json_read_stdin_bytewise(bytewise);
        const fuzz_harness::stdin_from_memory input(data, size);
        bool arm64 = false;
        const int status = fuzz_harness::run([&] {
            next_token();
            jsonv archs = lookup_value(parse_value(), "SupportedTargets");
            archs = lookup_value(std::move(archs), "macosx");
            archs = lookup_value(std::move(archs), "Archs");
            arm64 = !lookup_element(std::move(archs), "arm64").empty();
            std::fputs(flags(arm64), stdout);
        });
        json_read_stdin_bytewise(false);
        return {status, arm64};
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bool arm64_in_path = false;
    int path_status;
    {
        reset_tokeniser();
        const fuzz_harness::stdin_from_memory input(data, size);
        path_status = fuzz_harness::run([&] {
            next_token();
            arm64_in_path = !lookup_element(parse_value_at({"SupportedTargets", "macosx", "Archs"}), "arm64").empty();
            std::fputs(flags(arm64_in_path), stdout);
        });
    }

    // The whole tree, from runs taken in place and a byte at a time.
    const std::pair<int, bool> tree = whole_tree(data, size, false);
    const std::pair<int, bool> bytewise = whole_tree(data, size, true);

    if (path_status != tree.first || arm64_in_path != tree.second || bytewise != tree)
    {
        std::fprintf(stderr, "parse_value_at: status %d, arm64 %d; whole tree: status %d, arm64 %d; "
                             "a byte at a time: status %d, arm64 %d\n",
                     path_status, arm64_in_path, tree.first, tree.second, bytewise.first, bytewise.second);
        std::abort();
    }
    return 0;
}
