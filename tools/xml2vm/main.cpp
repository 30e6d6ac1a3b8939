// xml2vm: reads one class tree in the tree form on standard input and writes
// its VM code on standard output.
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"
#include "tools/xml2vm/vm_writer.h"

int main()
{
    using namespace Lum_IO_Buffers;
    // The whole file is made before any of it is written, so a tree that has
    // no code leaves nothing half-written behind.
    write_to_output(Jack_Compiler::vm_code(Jack_Compiler::ast_parse_xml()));
    print_output();
    print_errors();
    return 0;
}
