// xml2jack: reads a class tree in the tree form on standard input and writes
// it as Jack source text on standard output. Arguments other than a first
// --help or --version are ignored.
#include "ast/syntax_tree.h"
#include "cli/standard_options.h"
#include "iobuffer/iobuffer.h"
#include "tools/xml2jack/jack_writer.h"


using namespace Lum_IO_Buffers;

namespace
{
    const Jack_Command_Line::program_help help = {
        "xml2jack",
        "xml2jack [--help | --version]",
        "Reads one class tree in the XML tree form on standard input and writes it as\n"
        "Jack source text on standard output. A tree holding text that Jack cannot\n"
        "spell is refused before anything is written.\n",
        "",
        "Other arguments are ignored.\n",
        Jack_Command_Line::tree_program_exit_statuses,
        Jack_Command_Line::streams_environment,
    };
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);

    const Jack_Compiler::ast tree = Jack_Compiler::ast_parse_xml();
    // The whole text is made before any of it is written, so a tree that
    // Jack cannot spell leaves nothing half-written behind.
    write_to_output(Jack_Source::jack_text(tree));
    print_output();
    print_errors();
    return 0;
}
