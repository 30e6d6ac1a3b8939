// xml2jack: reads a class tree in the tree form on standard input and writes
// it as Jack source text on standard output.
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"
#include "tools/xml2jack/jack_writer.h"

using namespace Lum_IO_Buffers;

int main()
{
    const Jack_Compiler::ast tree = Jack_Compiler::ast_parse_xml();
    // The whole text is made before any of it is written, so a tree that
    // Jack cannot spell leaves nothing half-written behind.
    write_to_output(Jack_Source::jack_text(tree));
    print_output();
    print_errors();
    return 0;
}
