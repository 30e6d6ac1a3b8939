// Reads a tree on standard input and writes it back, then one variable
// object and the depth of the error context stack.
#include "ast/syntax_tree.h"
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"
#include "symbols/variables.h"

#include <string>

int main()
{
    using namespace Lum_IO_Buffers;
    using namespace Lum_Symbol_Tables;
    Jack_Compiler::ast_print_as_xml(Jack_Compiler::ast_parse_xml(), 3);
    push_error_context("consumer");
    const symrec count = symrec_create("count", "int", "local", 2);
    write_to_output(symrec_name(count) + " " + symrec_type(count) + " " + symrec_segment(count) + " " +
                    std::to_string(symrec_offset(count)) + ", " + std::to_string(depth_error_context()) +
                    " context entry\n");
    print_output();
    print_errors();
    return 0;
}
