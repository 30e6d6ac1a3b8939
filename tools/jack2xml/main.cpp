// jack2xml: reads one Jack class from the file named by the first argument,
// or from standard input when there is none, and writes its syntax tree in
// the tree form on standard output.
#include "ast/nesting_limit.h"
#include "ast/syntax_tree.h"
#include "iobuffer/iobuffer.h"
#include "tools/jack2xml/parser.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

using namespace Lum_IO_Buffers;

namespace
{
    // The tree form's reader refuses deeper trees, so none is written.
    const int max_tree_depth = Jack_Compiler::xml_nesting_limit;

    std::string read_all(std::FILE *file, const std::string &name)
    {
        std::string text;
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        if (std::ferror(file))
            fatal_error(1, "jack2xml: cannot read " + name + ": " + std::strerror(errno));
        return text;
    }
}

int main(int argc, char **argv)
{
    if (argc > 2)
        fatal_error(1, "usage: jack2xml [file.jack]");

    std::string name = "<stdin>";
    std::string text;
    if (argc == 2)
    {
        name = argv[1];
        std::FILE *file = std::fopen(argv[1], "rb");
        if (file == nullptr)
            fatal_error(1, "jack2xml: cannot open " + name + ": " + std::strerror(errno));
        text = read_all(file, name);
        std::fclose(file);
    }
    else
        text = read_all(stdin, name);

    const Jack_Source::source src(name, std::move(text));
    Jack_Source::parser reader(src, max_tree_depth);
    const Jack_Compiler::ast tree = reader.parse_class();

    Jack_Compiler::ast_print_as_xml(tree, 3);
    print_output();
    print_errors();
    return 0;
}
