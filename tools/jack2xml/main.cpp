// jack2xml: reads one Jack class from the file named by the first argument,
// or from standard input when there is none, and writes its syntax tree in
// the tree form on standard output.
#include "ast/nesting_limit.h"
#include "ast/syntax_tree.h"
#include "cli/standard_options.h"
#include "iobuffer/iobuffer.h"
#include "frontend/parser.h"

#include <string>

using namespace Lum_IO_Buffers;

namespace
{
    const Jack_Command_Line::program_help help = {
        "jack2xml",
        "jack2xml [FILE.jack]\n"
        "       jack2xml --help | --version",
        "Reads one Jack class from FILE.jack, or from standard input when no file is\n"
        "named, and writes its syntax tree in the XML tree form on standard output,\n"
        "indented 3 spaces a level. Every variable is resolved to its segment, offset\n"
        "and type.\n",
        "",
        "More than one argument is an error.\n",
        "  0    success\n"
        "  1    a syntax error (reported with its position), an unreadable file, more\n"
        "       than one argument, or output that cannot be written or passes 10 MB\n"
        "  255  more than 1,000,000 tree nodes, annotation sets or variables\n",
        Jack_Command_Line::streams_environment,
    };

    // The tree form's reader refuses deeper trees, so none is written.
    const int max_tree_depth = Jack_Compiler::xml_nesting_limit;
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);
    if (argc > 2)
        fatal_error(1, "usage: jack2xml [file.jack]");

    const std::string name = argc == 2 ? argv[1] : "<stdin>";
    std::string text = argc == 2 ? Jack_Source::read_text_file(name, "jack2xml")
                                 : Jack_Source::read_text(stdin, name, "jack2xml");

    const Jack_Source::source src(name, std::move(text));
    Jack_Source::parser reader(src, max_tree_depth);
    const Jack_Compiler::ast tree = reader.parse_class();

    Jack_Compiler::ast_print_as_xml(tree, 3);
    print_output();
    print_errors();
    return 0;
}
