#include "passes/exprfold/copy_tree.h"

#include "iobuffer/iobuffer.h"
#include "passes/exprfold/fold.h"

#include <utility>
#include <vector>

using Lum_IO_Buffers::fatal_error;

namespace Jack_Compiler
{
    namespace
    {
        // Walks every element of a list; returns t itself when every element
        // comes back unchanged, else a new list made by create. The new
        // sequence is only started at the first change.
        template <typename Create>
        ast copy_list(ast t, int (*size_of)(ast), ast (*get)(ast, int), ast (*copy)(ast), Create create)
        {
            const int n = size_of(t);
            std::vector<ast> elements;
            bool changed = false;
            for (int i = 0; i < n; i++)
            {
                const ast element = get(t, i);
                const ast copied = copy(element);
                if (copied != element && !changed)
                {
                    changed = true;
                    elements.reserve(n);
                    for (int j = 0; j < i; j++)
                        elements.push_back(get(t, j));
                }
                if (changed)
                    elements.push_back(copied);
            }
            return changed ? create(get_ann(t), std::move(elements)) : t;
        }
    }

    ast copy_class(ast t)
    {
        const ast statics = copy_class_var_decs(get_class_statics(t));
        const ast fields = copy_class_var_decs(get_class_fields(t));
        const ast subr_decs = get_class_subr_decs(t);
        const ast copied = copy_subr_decs(subr_decs);
        if (copied == subr_decs)
            return t;
        return create_class(get_ann(t), get_class_class_name(t), statics, fields, copied);
    }

    ast copy_subr_decs(ast t)
    {
        return copy_list(t, size_of_subr_decs, get_subr_decs, copy_subr,
                         [](ann a, std::vector<ast> v) { return create_subr_decs(a, std::move(v)); });
    }

    ast copy_subr(ast t)
    {
        const ast subr = get_subr_subr(t);
        ast copied;
        switch (ast_node_kind(subr))
        {
        case ast_constructor:
            copied = copy_constructor(subr);
            break;
        case ast_function:
            copied = copy_function(subr);
            break;
        case ast_method:
            copied = copy_method(subr);
            break;
        default:
            // create_subr refuses anything else, so only a broken node table
            // gets here.
            fatal_error(1, "bad subroutine dec found");
        }
        return copied == subr ? t : create_subr(get_ann(t), copied);
    }

    ast copy_constructor(ast t)
    {
        const ast params = copy_param_list(get_constructor_param_list(t));
        const ast body = get_constructor_subr_body(t);
        const ast copied = copy_subr_body(body);
        if (copied == body)
            return t;
        return create_constructor(get_ann(t), get_constructor_vtype(t), get_constructor_name(t), params, copied);
    }

    ast copy_function(ast t)
    {
        const ast params = copy_param_list(get_function_param_list(t));
        const ast body = get_function_subr_body(t);
        const ast copied = copy_subr_body(body);
        if (copied == body)
            return t;
        return create_function(get_ann(t), get_function_vtype(t), get_function_name(t), params, copied);
    }

    ast copy_method(ast t)
    {
        const ast params = copy_param_list(get_method_param_list(t));
        const ast body = get_method_subr_body(t);
        const ast copied = copy_subr_body(body);
        if (copied == body)
            return t;
        return create_method(get_ann(t), get_method_vtype(t), get_method_name(t), params, copied);
    }

    ast copy_subr_body(ast body)
    {
        const ast decs = copy_var_decs(get_subr_body_decs(body));
        const ast statements = get_subr_body_body(body);
        const ast copied = copy_statements(statements);
        if (copied == statements)
            return body;
        return create_subr_body(get_ann(body), decs, copied);
    }

    ast copy_statements(ast t)
    {
        return copy_list(t, size_of_statements, get_statements, copy_statement,
                         [](ann a, std::vector<ast> v) { return create_statements(a, std::move(v)); });
    }

    ast copy_statement(ast t)
    {
        const ast statement = get_statement_statement(t);
        ast copied;
        switch (ast_node_kind(statement))
        {
        case ast_statements:
            copied = copy_statements(statement);
            break;
        case ast_let:
            copied = copy_let(statement);
            break;
        case ast_let_array:
            copied = copy_let_array(statement);
            break;
        case ast_if:
            copied = copy_if(statement);
            break;
        case ast_if_else:
            copied = copy_if_else(statement);
            break;
        case ast_while:
            copied = copy_while(statement);
            break;
        case ast_do:
            copied = copy_do(statement);
            break;
        case ast_return:
            copied = copy_return(statement);
            break;
        case ast_return_expr:
            copied = copy_return_expr(statement);
            break;
        default:
            fatal_error(1, "Unexpected statement kind");
        }
        return copied == statement ? t : create_statement(get_ann(t), copied);
    }

    ast copy_let(ast t)
    {
        const ast expr = get_let_expr(t);
        const ast copied = copy_expr(expr);
        return copied == expr ? t : create_let(get_ann(t), get_let_var(t), copied);
    }

    ast copy_let_array(ast t)
    {
        const ast index = get_let_array_index(t);
        const ast new_index = copy_expr(index);
        const ast expr = get_let_array_expr(t);
        const ast new_expr = copy_expr(expr);
        if (new_index == index && new_expr == expr)
            return t;
        return create_let_array(get_ann(t), get_let_array_var(t), new_index, new_expr);
    }

    ast copy_if(ast t)
    {
        const ast condition = get_if_condition(t);
        const ast new_condition = copy_expr(condition);
        const ast if_true = get_if_if_true(t);
        const ast new_if_true = copy_statements(if_true);
        if (new_condition == condition && new_if_true == if_true)
            return t;
        return create_if(get_ann(t), new_condition, new_if_true);
    }

    ast copy_if_else(ast t)
    {
        const ast condition = get_if_else_condition(t);
        const ast new_condition = copy_expr(condition);
        const ast if_true = get_if_else_if_true(t);
        const ast new_if_true = copy_statements(if_true);
        const ast if_false = get_if_else_if_false(t);
        const ast new_if_false = copy_statements(if_false);
        if (new_condition == condition && new_if_true == if_true && new_if_false == if_false)
            return t;
        return create_if_else(get_ann(t), new_condition, new_if_true, new_if_false);
    }

    ast copy_while(ast t)
    {
        const ast condition = get_while_condition(t);
        const ast new_condition = copy_expr(condition);
        const ast body = get_while_body(t);
        const ast new_body = copy_statements(body);
        if (new_condition == condition && new_body == body)
            return t;
        return create_while(get_ann(t), new_condition, new_body);
    }

    ast copy_do(ast t)
    {
        const ast call = get_do_call(t);
        ast copied;
        switch (ast_node_kind(call))
        {
        case ast_call_as_function:
            copied = copy_call_as_function(call);
            break;
        case ast_call_as_method:
            copied = copy_call_as_method(call);
            break;
        default:
            fatal_error(1, "Unexpected call kind\n");
        }
        return copied == call ? t : create_do(get_ann(t), copied);
    }

    ast copy_return_expr(ast t)
    {
        const ast expr = get_return_expr(t);
        const ast copied = copy_expr(expr);
        return copied == expr ? t : create_return_expr(get_ann(t), copied);
    }

    ast copy_call_as_function(ast t)
    {
        const ast call = get_call_as_function_subr_call(t);
        const ast copied = copy_subr_call(call);
        return copied == call ? t : create_call_as_function(get_ann(t), get_call_as_function_class_name(t), copied);
    }

    ast copy_call_as_method(ast t)
    {
        const ast call = get_call_as_method_subr_call(t);
        const ast copied = copy_subr_call(call);
        if (copied == call)
            return t;
        return create_call_as_method(get_ann(t), get_call_as_method_class_name(t), get_call_as_method_var(t), copied);
    }

    ast copy_subr_call(ast t)
    {
        const ast list = get_subr_call_expr_list(t);
        const ast copied = copy_expr_list(list);
        // A call is never removed by folding, even one whose result is unused.
        has_calls = true;
        return copied == list ? t : create_subr_call(get_ann(t), get_subr_call_subr_name(t), copied);
    }

    ast copy_expr_list(ast t)
    {
        return copy_list(t, size_of_expr_list, get_expr_list, copy_expr,
                         [](ann a, std::vector<ast> v) { return create_expr_list(a, std::move(v)); });
    }

    ast copy_class_var_decs(ast t) { return t; }
    ast copy_param_list(ast t) { return t; }
    ast copy_var_decs(ast t) { return t; }
    ast copy_var_dec(ast t) { return t; }
    ast copy_return(ast t) { return t; }
    ast copy_var(ast t) { return t; }
    ast copy_this(ast t) { return t; }
    ast copy_int(ast t) { return t; }
    ast copy_string(ast t) { return t; }
    ast copy_bool(ast t) { return t; }
    ast copy_null(ast t) { return t; }
    ast copy_infix_op(ast t) { return t; }
}
