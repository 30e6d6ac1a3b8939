// The JSON tokeniser and parser as sdkarchs runs them on its standard input.
#include "tests/fuzz/harness.h"
#include "tools/sdkarchs/json_parser.h"
#include "tools/sdkarchs/tokeniser.h"

#include <utility>

using namespace JSON_Parser;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_harness::discard_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reset_tokeniser();
    const fuzz_harness::stdin_from_memory input(data, size);
    fuzz_harness::run([] {
        next_token();
        jsonv archs = lookup_value(parse_value(), "SupportedTargets");
        archs = lookup_value(std::move(archs), "macosx");
        archs = lookup_value(std::move(archs), "Archs");
        const bool arm64 = !lookup_element(std::move(archs), "arm64").empty();
        std::fputs(arm64 ? " -arch x86_64 -arch arm64 \n" : " -arch x86_64 \n", stdout);
    });
    return 0;
}
