// Reads one tree in the XML tree form from standard input and writes it
// again with the step width given as the first argument (3 by default), as
// the passes do: the tests of the reader run it as a real process.
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"

#include <cstdlib>

int main(int argc, char **argv)
{
    const int step_width = argc > 1 ? std::atoi(argv[1]) : 3;
    Jack_Compiler::ast tree = Jack_Compiler::ast_parse_xml();
    Jack_Compiler::ast_print_as_xml(tree, step_width);
    Lum_IO_Buffers::print_output();
    Lum_IO_Buffers::print_errors();
    return 0;
}
