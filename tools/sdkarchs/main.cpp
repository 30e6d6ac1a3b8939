// sdkarchs: reads an SDK's settings file (JSON) on standard input and prints
// the compiler -arch flags for the architectures the SDK supports for macOS.
// x86_64 is always printed; arm64 when "SupportedTargets"."macosx"."Archs"
// lists it. Only the root value is read: text after it is ignored.
// Arguments other than a first --help or --version are ignored.
#include "cli/standard_options.h"
#include "iobuffer/iobuffer.h"
#include "tools/sdkarchs/json_parser.h"
#include "tools/sdkarchs/tokeniser.h"

#include <cstdio>
#include <string>
#include <utility>

using namespace JSON_Parser;

namespace
{
    const Jack_Command_Line::program_help help = {
        "sdkarchs",
        "sdkarchs [--help | --version]",
        "Reads a platform SDK's settings file (JSON) on standard input and writes one\n"
        "line of compiler flags on standard output: \" -arch x86_64 \", followed by\n"
        "\"-arch arm64 \" when SupportedTargets.macosx.Archs lists \"arm64\".\n",
        "",
        "Other arguments are ignored.\n",
        "  0    the flags were written\n"
        "  1    malformed JSON, nesting deeper than 2,000 levels, unreadable input or\n"
        "       an unwritable flag line\n"
        "  255  more than 1,000,000 tokens\n",
        "  LUMTOOLS_IOBUFFER_ERRORS, LUMTOOLS_IOBUFFER_LOGS  settings of the error\n"
        "  report (the flag line goes straight to standard output)\n",
    };
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);

    // The whole document is read and checked, but only the one value asked
    // for is kept: a settings file of a million tokens needs no tree.
    next_token();
    jsonv archs = parse_value_at({"SupportedTargets", "macosx", "Archs"});

    std::string line = " -arch x86_64 ";
    if (!lookup_element(std::move(archs), "arm64").empty())
        line += "-arch arm64 ";
    line += '\n';

    // The line goes straight to standard output, whatever the stream
    // settings say. A caller must not take a line that was lost for success.
    std::fwrite(line.data(), 1, line.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        Lum_IO_Buffers::fatal_error(1, "could not write the flags to standard output");
    return 0;
}
