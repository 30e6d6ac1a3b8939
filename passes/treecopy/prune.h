// The rebuild walk of treecopy: takes a class tree apart with the accessors
// and puts every interior node together again through its constructor, so
// that each one passes the constructor's checks once more. Leaves are reused
// as they are; every rebuilt node carries the annotation set of the node it
// replaces. Nothing is compared or simplified.
//
// Each function takes a node of its kind and returns a node of the same kind.
// A node that holds something its kind never holds ends the program through
// fatal_error with exit status 1.
#ifndef PASSES_TREECOPY_PRUNE_H
#define PASSES_TREECOPY_PRUNE_H

#include "ast/syntax_tree.h"

namespace Jack_Compiler
{
    ast prune_class(ast t);
    ast prune_class_var_decs(ast t);
    ast prune_subr_decs(ast t);
    ast prune_subr(ast t);
    ast prune_constructor(ast t);
    ast prune_function(ast t);
    ast prune_method(ast t);
    ast prune_param_list(ast t);
    ast prune_subr_body(ast t);
    ast prune_var_decs(ast t);
    ast prune_statements(ast t);
    ast prune_statement(ast t);
    ast prune_let(ast t);
    ast prune_let_array(ast t);
    ast prune_if(ast t);
    ast prune_if_else(ast t);
    ast prune_while(ast t);
    ast prune_do(ast t);
    ast prune_return_expr(ast t);
    ast prune_expr(ast t);
    ast prune_term(ast t);
    ast prune_unary_op(ast t);
    ast prune_array_index(ast t);
    ast prune_call_as_function(ast t);
    ast prune_call_as_method(ast t);
    ast prune_subr_call(ast t);
    ast prune_expr_list(ast t);

    // Leaves: returned as they are.
    ast prune_var_dec(ast t);
    ast prune_var(ast t);
    ast prune_this(ast t);
    ast prune_int(ast t);
    ast prune_string(ast t);
    ast prune_bool(ast t);
    ast prune_null(ast t);
    ast prune_infix_op(ast t);
    ast prune_return(ast t);
}

#endif
