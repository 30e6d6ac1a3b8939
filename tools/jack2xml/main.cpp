// jack2xml: reads one Jack class from the file named by the first argument,
// or from standard input when there is none, and writes its syntax tree in
// the tree form on standard output.
#include "ast/nesting_limit.h"
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"
#include "tools/jack2xml/parser.h"

#include <string>

using namespace Lum_IO_Buffers;

namespace
{
    // The tree form's reader refuses deeper trees, so none is written.
    const int max_tree_depth = Jack_Compiler::xml_nesting_limit;
}

int main(int argc, char **argv)
{
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
