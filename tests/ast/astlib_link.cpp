// Links against build/lib/astlib.o and build/lib/iobuffer.o alone: reads a
// tree from standard input and writes it to standard output.
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"

int main()
{
    Jack_Compiler::ast_print_as_xml(Jack_Compiler::ast_parse_xml(), 3);
    Lum_IO_Buffers::print_output();
    Lum_IO_Buffers::print_errors();
    return 0;
}
