// treecopy: reads one class tree in the XML tree form on standard input,
// rebuilds every interior node through its checked constructor, and writes
// the same tree on standard output. Arguments other than a first --help or
// --version are ignored.
#include "ast/syntax_tree.h"
#include "cli/standard_options.h"
#include "iobuffer/iobuffer.h"
#include "passes/treecopy/prune.h"


namespace
{
    const Jack_Command_Line::program_help help = {
        "treecopy",
        "treecopy [--help | --version]",
        "Reads one class tree in the XML tree form on standard input, rebuilds every\n"
        "node through the tree library's checked constructors, and writes the same\n"
        "tree on standard output, indented 3 spaces a level.\n",
        "",
        "Other arguments are ignored.\n",
        Jack_Command_Line::tree_program_exit_statuses,
        Jack_Command_Line::streams_environment,
    };
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);

    using namespace Jack_Compiler;
    const ast result = prune_class(ast_parse_xml());
    ast_print_as_xml(result, 3);
    Lum_IO_Buffers::print_output();
    Lum_IO_Buffers::print_errors();
    return 0;
}
