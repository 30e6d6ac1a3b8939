#include "passes/treecopy/prune.h"

#include "iobuffer/iobuffer.h"

#include <vector>

using Lum_IO_Buffers::fatal_error;

namespace Jack_Compiler
{
    namespace
    {
        // Every element of a list, each rebuilt in order; the caller builds
        // the new list node, which is new even when the list is empty.
        std::vector<ast> rebuild_elements(ast t, int (*size_of)(ast), ast (*get)(ast, int), ast (*rebuild)(ast))
        {
            const int n = size_of(t);
            std::vector<ast> elements;
            elements.reserve(n);
            for (int i = 0; i < n; i++)
                elements.push_back(rebuild(get(t, i)));
            return elements;
        }
    }

    ast prune_class(ast t)
    {
        const ast statics = prune_class_var_decs(get_class_statics(t));
        const ast fields = prune_class_var_decs(get_class_fields(t));
        const ast subr_decs = prune_subr_decs(get_class_subr_decs(t));
        return create_class(get_ann(t), get_class_class_name(t), statics, fields, subr_decs);
    }

    ast prune_class_var_decs(ast t)
    {
        return create_class_var_decs(get_ann(t),
                                     rebuild_elements(t, size_of_class_var_decs, get_class_var_decs, prune_var_dec));
    }

    ast prune_subr_decs(ast t)
    {
        return create_subr_decs(get_ann(t), rebuild_elements(t, size_of_subr_decs, get_subr_decs, prune_subr));
    }

    ast prune_subr(ast t)
    {
        const ast subr = get_subr_subr(t);
        ast rebuilt;
        switch (ast_node_kind(subr))
        {
        case ast_constructor:
            rebuilt = prune_constructor(subr);
            break;
        case ast_function:
            rebuilt = prune_function(subr);
            break;
        case ast_method:
            rebuilt = prune_method(subr);
            break;
        default:
            // create_subr refuses anything else, so only a broken node table
            // gets here.
            fatal_error(1, "bad subroutine dec found");
        }
        return create_subr(get_ann(t), rebuilt);
    }

    ast prune_constructor(ast t)
    {
        const ast params = prune_param_list(get_constructor_param_list(t));
        const ast body = prune_subr_body(get_constructor_subr_body(t));
        return create_constructor(get_ann(t), get_constructor_vtype(t), get_constructor_name(t), params, body);
    }

    ast prune_function(ast t)
    {
        const ast params = prune_param_list(get_function_param_list(t));
        const ast body = prune_subr_body(get_function_subr_body(t));
        return create_function(get_ann(t), get_function_vtype(t), get_function_name(t), params, body);
    }

    ast prune_method(ast t)
    {
        const ast params = prune_param_list(get_method_param_list(t));
        const ast body = prune_subr_body(get_method_subr_body(t));
        return create_method(get_ann(t), get_method_vtype(t), get_method_name(t), params, body);
    }

    ast prune_param_list(ast t)
    {
        return create_param_list(get_ann(t), rebuild_elements(t, size_of_param_list, get_param_list, prune_var_dec));
    }

    ast prune_subr_body(ast t)
    {
        const ast decs = prune_var_decs(get_subr_body_decs(t));
        const ast body = prune_statements(get_subr_body_body(t));
        return create_subr_body(get_ann(t), decs, body);
    }

    ast prune_var_decs(ast t)
    {
        return create_var_decs(get_ann(t), rebuild_elements(t, size_of_var_decs, get_var_decs, prune_var_dec));
    }

    ast prune_statements(ast t)
    {
        return create_statements(get_ann(t), rebuild_elements(t, size_of_statements, get_statements, prune_statement));
    }

    ast prune_statement(ast t)
    {
        const ast statement = get_statement_statement(t);
        ast rebuilt;
        switch (ast_node_kind(statement))
        {
        case ast_statements:
            rebuilt = prune_statements(statement);
            break;
        case ast_let:
            rebuilt = prune_let(statement);
            break;
        case ast_let_array:
            rebuilt = prune_let_array(statement);
            break;
        case ast_if:
            rebuilt = prune_if(statement);
            break;
        case ast_if_else:
            rebuilt = prune_if_else(statement);
            break;
        case ast_while:
            rebuilt = prune_while(statement);
            break;
        case ast_do:
            rebuilt = prune_do(statement);
            break;
        case ast_return:
            rebuilt = prune_return(statement);
            break;
        case ast_return_expr:
            rebuilt = prune_return_expr(statement);
            break;
        default:
            fatal_error(1, "Unexpected statement kind");
        }
        return create_statement(get_ann(t), rebuilt);
    }

    ast prune_let(ast t)
    {
        const ast var = prune_var(get_let_var(t));
        const ast expr = prune_expr(get_let_expr(t));
        return create_let(get_ann(t), var, expr);
    }

    ast prune_let_array(ast t)
    {
        const ast var = prune_var(get_let_array_var(t));
        const ast index = prune_expr(get_let_array_index(t));
        const ast expr = prune_expr(get_let_array_expr(t));
        return create_let_array(get_ann(t), var, index, expr);
    }

    ast prune_if(ast t)
    {
        const ast condition = prune_expr(get_if_condition(t));
        const ast if_true = prune_statements(get_if_if_true(t));
        return create_if(get_ann(t), condition, if_true);
    }

    ast prune_if_else(ast t)
    {
        const ast condition = prune_expr(get_if_else_condition(t));
        const ast if_true = prune_statements(get_if_else_if_true(t));
        const ast if_false = prune_statements(get_if_else_if_false(t));
        return create_if_else(get_ann(t), condition, if_true, if_false);
    }

    ast prune_while(ast t)
    {
        const ast condition = prune_expr(get_while_condition(t));
        const ast body = prune_statements(get_while_body(t));
        return create_while(get_ann(t), condition, body);
    }

    ast prune_do(ast t)
    {
        const ast call = get_do_call(t);
        ast rebuilt;
        switch (ast_node_kind(call))
        {
        case ast_call_as_function:
            rebuilt = prune_call_as_function(call);
            break;
        case ast_call_as_method:
            rebuilt = prune_call_as_method(call);
            break;
        default:
            fatal_error(1, "Unexpected call kind\n");
        }
        return create_do(get_ann(t), rebuilt);
    }

    ast prune_return_expr(ast t)
    {
        return create_return_expr(get_ann(t), prune_expr(get_return_expr(t)));
    }

    ast prune_expr(ast t)
    {
        // Terms stand at the even positions, operators at the odd ones.
        const int n = size_of_expr(t);
        std::vector<ast> elements;
        elements.reserve(n);
        for (int i = 0; i < n; i++)
            elements.push_back(i % 2 == 0 ? prune_term(get_expr(t, i)) : prune_infix_op(get_expr(t, i)));
        return create_expr(get_ann(t), elements);
    }

    ast prune_term(ast t)
    {
        const ast held = get_term_term(t);
        ast rebuilt;
        switch (ast_node_kind(held))
        {
        case ast_expr:
            rebuilt = prune_expr(held);
            break;
        case ast_int:
            rebuilt = prune_int(held);
            break;
        case ast_string:
            rebuilt = prune_string(held);
            break;
        case ast_bool:
            rebuilt = prune_bool(held);
            break;
        case ast_null:
            rebuilt = prune_null(held);
            break;
        case ast_this:
            rebuilt = prune_this(held);
            break;
        case ast_var:
            rebuilt = prune_var(held);
            break;
        case ast_unary_op:
            rebuilt = prune_unary_op(held);
            break;
        case ast_array_index:
            rebuilt = prune_array_index(held);
            break;
        case ast_call_as_function:
            rebuilt = prune_call_as_function(held);
            break;
        case ast_call_as_method:
            rebuilt = prune_call_as_method(held);
            break;
        default:
            fatal_error(1, "Unexpected term kind\n");
        }
        return create_term(get_ann(t), rebuilt);
    }

    ast prune_unary_op(ast t)
    {
        return create_unary_op(get_ann(t), get_unary_op_op(t), prune_term(get_unary_op_term(t)));
    }

    ast prune_array_index(ast t)
    {
        const ast var = prune_var(get_array_index_var(t));
        const ast index = prune_expr(get_array_index_index(t));
        return create_array_index(get_ann(t), var, index);
    }

    ast prune_call_as_function(ast t)
    {
        return create_call_as_function(get_ann(t), get_call_as_function_class_name(t),
                                       prune_subr_call(get_call_as_function_subr_call(t)));
    }

    ast prune_call_as_method(ast t)
    {
        const ast object = get_call_as_method_var(t);
        const ast var = ast_node_kind(object) == ast_var ? prune_var(object) : prune_this(object);
        const ast call = prune_subr_call(get_call_as_method_subr_call(t));
        return create_call_as_method(get_ann(t), get_call_as_method_class_name(t), var, call);
    }

    ast prune_subr_call(ast t)
    {
        return create_subr_call(get_ann(t), get_subr_call_subr_name(t), prune_expr_list(get_subr_call_expr_list(t)));
    }

    ast prune_expr_list(ast t)
    {
        return create_expr_list(get_ann(t), rebuild_elements(t, size_of_expr_list, get_expr_list, prune_expr));
    }

    ast prune_var_dec(ast t) { return t; }
    ast prune_var(ast t) { return t; }
    ast prune_this(ast t) { return t; }
    ast prune_int(ast t) { return t; }
    ast prune_string(ast t) { return t; }
    ast prune_bool(ast t) { return t; }
    ast prune_null(ast t) { return t; }
    ast prune_infix_op(ast t) { return t; }
    ast prune_return(ast t) { return t; }
}
