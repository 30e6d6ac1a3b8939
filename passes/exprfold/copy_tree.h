// The sharing walk of exprfold: carries the expression rewrite (fold.h) from
// the class node down to every expression and back up again.
//
// A node whose walked children all come back as the same handles is returned
// itself; only a node with a changed child is built anew, with the annotation
// set of the node it replaces. So the output shares every subtree of the
// input in which nothing changed, and the new nodes are those on the paths
// from the class node to a changed expression.
//
// Each function takes a node of its kind and returns a node of the same kind.
// A node that holds something its kind never holds ends the program through
// fatal_error with exit status 1.
#ifndef PASSES_EXPRFOLD_COPY_TREE_H
#define PASSES_EXPRFOLD_COPY_TREE_H

#include "ast/syntax_tree.h"

namespace Jack_Compiler
{
    ast copy_class(ast t);
    ast copy_subr_decs(ast t);
    ast copy_subr(ast t);
    ast copy_constructor(ast t);
    ast copy_function(ast t);
    ast copy_method(ast t);
    ast copy_subr_body(ast body);
    ast copy_statements(ast t);
    ast copy_statement(ast t);
    ast copy_let(ast t);
    ast copy_let_array(ast t);
    ast copy_if(ast t);
    ast copy_if_else(ast t);
    ast copy_while(ast t);
    ast copy_do(ast t);
    ast copy_return_expr(ast t);
    ast copy_call_as_function(ast t);
    ast copy_call_as_method(ast t);
    // Sets has_calls, whether or not anything in the call changed.
    ast copy_subr_call(ast t);
    ast copy_expr_list(ast t);

    // Nothing below these can change: each returns its argument.
    ast copy_class_var_decs(ast t);
    ast copy_param_list(ast t);
    ast copy_var_decs(ast t);
    ast copy_var_dec(ast t);
    ast copy_return(ast t);
    ast copy_var(ast t);
    ast copy_this(ast t);
    ast copy_int(ast t);
    ast copy_string(ast t);
    ast copy_bool(ast t);
    ast copy_null(ast t);
    ast copy_infix_op(ast t);
}

#endif
