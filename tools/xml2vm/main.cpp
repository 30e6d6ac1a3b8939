// xml2vm: reads one class tree in the tree form on standard input and writes
// its VM code on standard output. Arguments other than a first --help or
// --version are ignored.
#include "ast/syntax_tree.h"
#include "cli/standard_options.h"
#include "iobuffer/iobuffer.h"
#include "codegen/vm_writer.h"

namespace
{
    const Jack_Command_Line::program_help help = {
        "xml2vm",
        "xml2vm [--help | --version]",
        "Reads one class tree in the XML tree form on standard input and writes the\n"
        "class's VM code on standard output: one command a line, LF line ends. A tree\n"
        "that has no code (an unknown operator or segment, a node where its position\n"
        "takes none of its kind) is refused before anything is written.\n",
        "",
        "Other arguments are ignored.\n",
        "  0    success\n"
        "  1    malformed tree, a tree that has no code, output that cannot be\n"
        "       written, or output past 10,485,760 bytes\n"
        "  255  more than 1,000,000 tree nodes or annotation sets\n",
        Jack_Command_Line::streams_environment,
    };
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);

    using namespace Lum_IO_Buffers;
    // The whole file is made before any of it is written, so a tree that has
    // no code leaves nothing half-written behind.
    write_to_output(Jack_Compiler::vm_code(Jack_Compiler::ast_parse_xml()));
    print_output();
    print_errors();
    return 0;
}
