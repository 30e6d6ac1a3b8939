// treecopy: reads one class tree in the XML tree form on standard input,
// rebuilds every interior node through its checked constructor, and writes
// the same tree on standard output. Arguments are ignored.
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"
#include "passes/treecopy/prune.h"

int main()
{
    using namespace Jack_Compiler;
    const ast result = prune_class(ast_parse_xml());
    ast_print_as_xml(result, 3);
    Lum_IO_Buffers::print_output();
    Lum_IO_Buffers::print_errors();
    return 0;
}
