// jack2xml: reads one Jack class from the file named, or from standard input
// when none is, checks it, and writes its syntax tree in the tree form on
// standard output. Errors and warnings go to standard error in the form
// editors read; on an error nothing is written.
#include "ast/nesting_limit.h"
#include "ast/syntax_tree.h"
#include "cli/standard_options.h"
#include "frontend/parser.h"
#include "frontend/program_checks.h"
#include "iobuffer/iobuffer.h"

#include <string>

using namespace Lum_IO_Buffers;

namespace
{
    const char usage[] = "usage: jack2xml [-Werror] [-w] [--no-checks] [FILE.jack]";

    const Jack_Command_Line::program_help help = {
        "jack2xml",
        "jack2xml [-Werror] [-w] [--no-checks] [FILE.jack]\n"
        "       jack2xml --help | --version",
        "Reads one Jack class from FILE.jack, or from standard input when no file is\n"
        "named, and writes its syntax tree in the XML tree form on standard output,\n"
        "indented 3 spaces a level. Every variable is resolved to its segment, offset\n"
        "and type. The class is checked first: every error and warning is reported on\n"
        "standard error as FILE:LINE:COL: error: MESSAGE with the source line and a\n"
        "caret, and on an error no tree is written.\n",
        "  -Werror      make every warning an error\n"
        "  -w           report no warnings\n"
        "  --no-checks  check only the grammar and the names the tree resolves\n",
        "More than one file, or another argument starting with \"-\", is an error.\n",
        "  0    success (warnings may have been reported)\n"
        "  1    an error in the class (each reported with its position), an unreadable\n"
        "       file, a usage error, or output that cannot be written or passes 10 MB\n"
        "  255  more than 1,000,000 tree nodes, annotation sets or variables\n",
        Jack_Command_Line::streams_environment,
    };

    // The tree form's reader refuses deeper trees, so none is written.
    const int max_tree_depth = Jack_Compiler::xml_nesting_limit;
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);
    Jack_Source::diagnostic_options options;
    options.colour = Jack_Source::diagnostics::colour_wanted(stderr);
    std::string name;
    bool named = false;
    for (int i = 1; i < argc; i++)
    {
        const std::string argument = argv[i];
        if (Jack_Source::take_diagnostic_option(argument, options))
            continue;
        if (argument.size() > 1 && argument[0] == '-')
            fatal_error(1, "jack2xml: unknown option " + argument + "\n" + usage);
        if (named)
            fatal_error(1, usage);
        name = argument;
        named = true;
    }
    if (!named)
        name = "<stdin>";
    std::string text = named ? Jack_Source::read_text_file(name, "jack2xml")
                             : Jack_Source::read_text(stdin, name, "jack2xml");

    const Jack_Source::source src(name, std::move(text));
    Jack_Source::diagnostics diags(options);
    Jack_Compiler::ast tree = nullptr;
    try
    {
        Jack_Source::parser reader(src, max_tree_depth, diags);
        tree = reader.parse_class();
        Jack_Source::check_program({&reader.summary()}, diags, false);
    }
    catch (const Jack_Source::too_many_errors &)
    {
    }
    diags.print("jack2xml");
    if (diags.errors() > 0)
        return 1;

    Jack_Compiler::ast_print_as_xml(tree, 3);
    print_output();
    print_errors();
    return 0;
}
