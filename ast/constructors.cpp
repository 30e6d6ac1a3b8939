// The checked constructors and accessors of every node kind.
//
// The checks are deliberately uneven: accessors require exactly their own
// kind; list constructors check every element; the subroutine wrapper checks
// its child; the other constructors store their children unexamined, except
// that some replace an empty child by a new empty list of the right kind.
#include "ast/nodes.h"
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"

using Lum_IO_Buffers::fatal_error;
using Lum_IO_Buffers::push_error_context;

namespace Jack_Compiler
{
    namespace
    {
        std::string name_of(ast_kind k)
        {
            return ast_kind_to_string(k);
        }

        ast_kind kind_of(ast child)
        {
            return get_node(child, "ast_node_kind")->kind;
        }

        template <typename Node>
        Node *get_node_is(ast t, ast_kind k, const char *caller)
        {
            ast_node *node = get_node(t, caller);
            if (node->kind != k)
                fatal_error(1, std::string(caller) + " expected " + name_of(k) + " but was passed " + name_of(node->kind));
            return static_cast<Node *>(node);
        }

        int size_of_vector(ast t, ast_kind k, const char *caller)
        {
            ast_node *node = get_node(t, caller);
            if (!kind_compatible(node->kind, k))
                fatal_error(1, std::string(caller) + " passed the wrong kind of ast: ");
            return static_cast<int>(static_cast<ast_vector_node *>(node)->elements.size());
        }

        ast get_vector(ast t, ast_kind k, int i, const char *caller)
        {
            const std::vector<ast> &elements = get_node_is<ast_vector_node>(t, k, caller)->elements;
            if (i < 0 || static_cast<size_t>(i) >= elements.size())
                fatal_error(1, std::string(caller) + ", index is out of range");
            return elements[i];
        }

        // Ends the program for element i of a list being built, with the
        // contexts "creating <list>" and "checking index <i> is <kind>" on the
        // stack. They are pushed only when an element fails: the report is the
        // same as if they had been pushed around every check, and building a
        // list stays one table lookup per element.
        [[noreturn]] void refuse_element(ast_kind list, size_t i, ast element, ast_kind expected)
        {
            push_error_context("creating " + name_of(list));
            push_error_context("checking index " + std::to_string(i) + " is " + name_of(expected));
            const ast_kind actual = get_node(element, "ast_is_kind")->kind;
            fatal_error(1, "cannot use node of kind: " + name_of(actual) + " as a node of kind: " + name_of(expected) +
                               " to initialise: " + name_of(list));
        }

        bool element_has_kind(ast element, ast_kind expected)
        {
            return valid_ast(element) && get_node(element, "ast_is_kind")->kind == expected;
        }

        // A list node of kind k whose elements must be exactly kind e.
        ast make_list(ann a, ast_kind k, std::vector<ast> elements, ast_kind e)
        {
            for (size_t i = 0; i < elements.size(); i++)
                if (!element_has_kind(elements[i], e))
                    refuse_element(k, i, elements[i], e);
            return new_node(new ast_vector_node(k, a, std::move(elements)));
        }

        // Building a list node of one of the flattening kinds: empty nodes are
        // dropped and nested lists of kind nested opened one level.
        std::vector<ast> flatten(const std::vector<ast> &v, ast_kind single, ast_kind nested, ast_kind building,
                                 int (*size_of)(ast), ast (*get)(ast, int))
        {
            std::vector<ast> result;
            result.reserve(v.size());
            for (ast x : v)
            {
                const ast_kind k = kind_of(x);
                if (k == ast_empty)
                    continue;
                if (k == single)
                    result.push_back(x);
                else if (k == nested)
                {
                    const int n = size_of(x);
                    for (int j = 0; j < n; j++)
                        result.push_back(get(x, j));
                }
                else
                    fatal_error(1, "cannot use a node of kind: " + name_of(k) + " to create " + name_of(building));
            }
            return result;
        }

        // An absent optional child stands for an empty list: it becomes a new
        // empty list node, built without annotations.
        ast or_new_list(ast child, ast (*make_empty_list)(std::vector<ast>))
        {
            return kind_of(child) == ast_empty ? make_empty_list({}) : child;
        }
    }

    // ---- Accessors --------------------------------------------------------

#define AST_FIELD(kind, node_class, field, member, type)                                   \
    type get_##kind##_##field(ast t)                                                       \
    {                                                                                      \
        return get_node_is<node_class>(t, ast_##kind, "get_" #kind "_" #field)->member;    \
    }
#include "ast/accessors.def"
#undef AST_FIELD

#define AST_LIST(kind)                                                                     \
    int size_of_##kind(ast t)                                                              \
    {                                                                                      \
        return size_of_vector(t, ast_##kind, "size_of_" #kind);                            \
    }                                                                                      \
    ast get_##kind(ast t, int i)                                                           \
    {                                                                                      \
        return get_vector(t, ast_##kind, i, "get_" #kind);                                 \
    }
#include "ast/lists.def"
#undef AST_LIST

    // Reports itself under a name of its own; callers match on it.
    ast get_if_else_if_false(ast t)
    {
        return get_node_is<ast_if_else_node>(t, ast_if_else, "get_if_else_if_else")->child[2];
    }

    ast get_return_expr(ast t)
    {
        return get_node_is<ast_return_expr_node>(t, ast_return_expr, "get_return_expr")->child[0];
    }

    // ---- Constructors -------------------------------------------------------

    ast create_class(ann a, std::string class_name, ast statics, ast fields, ast subr_decs)
    {
        statics = or_new_list(statics, create_class_var_decs);
        fields = or_new_list(fields, create_class_var_decs);
        subr_decs = or_new_list(subr_decs, create_subr_decs);
        return new_node(new ast_class_node(a, std::move(class_name), statics, fields, subr_decs));
    }

    ast create_class_var_decs(ann a, std::vector<ast> elements)
    {
        return make_list(a, ast_class_var_decs,
                         flatten(elements, ast_var_dec, ast_var_decs, ast_class_var_decs, size_of_var_decs, get_var_decs),
                         ast_var_dec);
    }

    ast create_var_dec(ann a, std::string name, std::string segment, int offset, std::string type)
    {
        return new_node(new ast_var_dec_node(a, std::move(name), std::move(segment), offset, std::move(type)));
    }

    ast create_subr_decs(ann a, std::vector<ast> elements)
    {
        return make_list(a, ast_subr_decs, std::move(elements), ast_subr);
    }

    ast create_subr(ann a, ast subr)
    {
        const ast_kind k = kind_of(subr);
        if (k != ast_constructor && k != ast_function && k != ast_method)
            fatal_error(1, "cannot use a node of kind: " + name_of(k) + " to create an ast_subr");
        return new_node(new ast_subr_node(a, subr));
    }

    namespace
    {
        template <typename Node>
        ast make_subroutine(ann a, std::string vtype, std::string name, ast param_list, ast subr_body)
        {
            param_list = or_new_list(param_list, create_param_list);
            // An empty body becomes an empty statement list, not an empty
            // subr_body: stored trees rely on that shape.
            subr_body = or_new_list(subr_body, create_statements);
            return new_node(new Node(a, std::move(vtype), std::move(name), param_list, subr_body));
        }
    }

    ast create_constructor(ann a, std::string vtype, std::string name, ast param_list, ast subr_body)
    {
        return make_subroutine<ast_constructor_node>(a, std::move(vtype), std::move(name), param_list, subr_body);
    }

    ast create_function(ann a, std::string vtype, std::string name, ast param_list, ast subr_body)
    {
        return make_subroutine<ast_function_node>(a, std::move(vtype), std::move(name), param_list, subr_body);
    }

    ast create_method(ann a, std::string vtype, std::string name, ast param_list, ast subr_body)
    {
        return make_subroutine<ast_method_node>(a, std::move(vtype), std::move(name), param_list, subr_body);
    }

    ast create_param_list(ann a, std::vector<ast> elements)
    {
        return make_list(a, ast_param_list, std::move(elements), ast_var_dec);
    }

    ast create_subr_body(ann a, ast decs, ast body)
    {
        decs = or_new_list(decs, create_var_decs);
        body = or_new_list(body, create_statements);
        return new_node(new ast_subr_body_node(a, decs, body));
    }

    ast create_var_decs(ann a, std::vector<ast> elements)
    {
        return make_list(a, ast_var_decs,
                         flatten(elements, ast_var_dec, ast_var_decs, ast_var_decs, size_of_var_decs, get_var_decs),
                         ast_var_dec);
    }

    ast create_statements(ann a, std::vector<ast> elements)
    {
        return make_list(a, ast_statements,
                         flatten(elements, ast_statement, ast_statements, ast_statements, size_of_statements,
                                 get_statements),
                         ast_statement);
    }

    ast create_statement(ann a, ast statement)
    {
        return new_node(new ast_statement_node(a, statement));
    }

    ast create_let(ann a, ast var, ast expr)
    {
        return new_node(new ast_let_node(a, var, expr));
    }

    ast create_let_array(ann a, ast var, ast index, ast expr)
    {
        return new_node(new ast_let_array_node(a, var, index, expr));
    }

    ast create_if(ann a, ast condition, ast if_true)
    {
        if_true = or_new_list(if_true, create_statements);
        return new_node(new ast_if_node(a, condition, if_true));
    }

    ast create_if_else(ann a, ast condition, ast if_true, ast if_false)
    {
        if_true = or_new_list(if_true, create_statements);
        if_false = or_new_list(if_false, create_statements);
        return new_node(new ast_if_else_node(a, condition, if_true, if_false));
    }

    ast create_while(ann a, ast condition, ast body)
    {
        body = or_new_list(body, create_statements);
        return new_node(new ast_while_node(a, condition, body));
    }

    ast create_do(ann a, ast call)
    {
        return new_node(new ast_do_node(a, call));
    }

    ast create_return(ann a)
    {
        return new_node(new ast_return_node(a));
    }

    ast create_return_expr(ann a, ast expr)
    {
        return new_node(new ast_return_expr_node(a, expr));
    }

    ast create_expr_list(ann a, std::vector<ast> elements)
    {
        return make_list(a, ast_expr_list, std::move(elements), ast_expr);
    }

    ast create_expr(ann a, std::vector<ast> elements)
    {
        if (elements.size() % 2 == 0)
        {
            push_error_context("creating ast_expr");
            fatal_error(1, "cannot create a node of kind ast_expr using a vector<ast> that is not an odd length > 0");
        }
        for (size_t i = 0; i < elements.size(); i++)
        {
            const ast_kind expected = i % 2 == 0 ? ast_term : ast_infix_op;
            if (!element_has_kind(elements[i], expected))
                refuse_element(ast_expr, i, elements[i], expected);
        }
        return new_node(new ast_vector_node(ast_expr, a, std::move(elements)));
    }

    ast create_expr(ann a, ast term)
    {
        return create_expr(a, std::vector<ast>{term});
    }

    ast create_expr(ann a, ast lhs, ast op, ast rhs)
    {
        return create_expr(a, std::vector<ast>{lhs, op, rhs});
    }

    ast create_term(ann a, ast term)
    {
        return new_node(new ast_term_node(a, term));
    }

    ast create_int(ann a, int constant)
    {
        return new_node(new ast_int_node(a, constant));
    }

    ast create_string(ann a, std::string constant)
    {
        return new_node(new ast_string_node(a, std::move(constant)));
    }

    ast create_bool(ann a, bool t_or_f)
    {
        return new_node(new ast_bool_node(a, t_or_f));
    }

    ast create_null(ann a)
    {
        return new_node(new ast_null_node(a));
    }

    ast create_this(ann a)
    {
        return new_node(new ast_this_node(a));
    }

    ast create_unary_op(ann a, std::string op, ast term)
    {
        return new_node(new ast_unary_op_node(a, std::move(op), term));
    }

    ast create_var(ann a, std::string name, std::string segment, int offset, std::string type)
    {
        return new_node(new ast_var_node(a, std::move(name), std::move(segment), offset, std::move(type)));
    }

    ast create_array_index(ann a, ast var, ast index)
    {
        return new_node(new ast_array_index_node(a, var, index));
    }

    ast create_call_as_function(ann a, std::string class_name, ast subr_call)
    {
        return new_node(new ast_call_as_function_node(a, std::move(class_name), subr_call));
    }

    ast create_call_as_method(ann a, std::string class_name, ast var, ast subr_call)
    {
        return new_node(new ast_call_as_method_node(a, std::move(class_name), var, subr_call));
    }

    ast create_subr_call(ann a, std::string subr_name, ast expr_list)
    {
        expr_list = or_new_list(expr_list, create_expr_list);
        return new_node(new ast_subr_call_node(a, std::move(subr_name), expr_list));
    }

    ast create_infix_op(ann a, std::string op)
    {
        return new_node(new ast_infix_op_node(a, std::move(op)));
    }

    // ---- The forms without annotations ------------------------------------
    // Each means the form above with the shared empty set.

    ast create_class(std::string class_name, ast statics, ast fields, ast subr_decs)
    {
        initialise();
        return create_class(the_empty_ann, std::move(class_name), statics, fields, subr_decs);
    }

    ast create_var_dec(std::string name, std::string segment, int offset, std::string type)
    {
        initialise();
        return create_var_dec(the_empty_ann, std::move(name), std::move(segment), offset, std::move(type));
    }

    ast create_subr(ast subr)
    {
        initialise();
        return create_subr(the_empty_ann, subr);
    }

    ast create_constructor(std::string vtype, std::string name, ast param_list, ast subr_body)
    {
        initialise();
        return create_constructor(the_empty_ann, std::move(vtype), std::move(name), param_list, subr_body);
    }

    ast create_function(std::string vtype, std::string name, ast param_list, ast subr_body)
    {
        initialise();
        return create_function(the_empty_ann, std::move(vtype), std::move(name), param_list, subr_body);
    }

    ast create_method(std::string vtype, std::string name, ast param_list, ast subr_body)
    {
        initialise();
        return create_method(the_empty_ann, std::move(vtype), std::move(name), param_list, subr_body);
    }

    ast create_subr_body(ast decs, ast body)
    {
        initialise();
        return create_subr_body(the_empty_ann, decs, body);
    }

    ast create_statement(ast statement)
    {
        initialise();
        return create_statement(the_empty_ann, statement);
    }

    ast create_let(ast var, ast expr)
    {
        initialise();
        return create_let(the_empty_ann, var, expr);
    }

    ast create_let_array(ast var, ast index, ast expr)
    {
        initialise();
        return create_let_array(the_empty_ann, var, index, expr);
    }

    ast create_if(ast condition, ast if_true)
    {
        initialise();
        return create_if(the_empty_ann, condition, if_true);
    }

    ast create_if_else(ast condition, ast if_true, ast if_false)
    {
        initialise();
        return create_if_else(the_empty_ann, condition, if_true, if_false);
    }

    ast create_while(ast condition, ast body)
    {
        initialise();
        return create_while(the_empty_ann, condition, body);
    }

    ast create_do(ast call)
    {
        initialise();
        return create_do(the_empty_ann, call);
    }

    ast create_return()
    {
        initialise();
        return create_return(the_empty_ann);
    }

    ast create_return_expr(ast expr)
    {
        initialise();
        return create_return_expr(the_empty_ann, expr);
    }

    ast create_expr(ast term)
    {
        initialise();
        return create_expr(the_empty_ann, term);
    }

    ast create_expr(ast lhs, ast op, ast rhs)
    {
        initialise();
        return create_expr(the_empty_ann, lhs, op, rhs);
    }

    ast create_term(ast term)
    {
        initialise();
        return create_term(the_empty_ann, term);
    }

    ast create_int(int constant)
    {
        initialise();
        return create_int(the_empty_ann, constant);
    }

    ast create_string(std::string constant)
    {
        initialise();
        return create_string(the_empty_ann, std::move(constant));
    }

    ast create_bool(bool t_or_f)
    {
        initialise();
        return create_bool(the_empty_ann, t_or_f);
    }

    ast create_null()
    {
        initialise();
        return create_null(the_empty_ann);
    }

    ast create_this()
    {
        initialise();
        return create_this(the_empty_ann);
    }

    ast create_unary_op(std::string op, ast term)
    {
        initialise();
        return create_unary_op(the_empty_ann, std::move(op), term);
    }

    ast create_var(std::string name, std::string segment, int offset, std::string type)
    {
        initialise();
        return create_var(the_empty_ann, std::move(name), std::move(segment), offset, std::move(type));
    }

    ast create_array_index(ast var, ast index)
    {
        initialise();
        return create_array_index(the_empty_ann, var, index);
    }

    ast create_call_as_function(std::string class_name, ast subr_call)
    {
        initialise();
        return create_call_as_function(the_empty_ann, std::move(class_name), subr_call);
    }

    ast create_call_as_method(std::string class_name, ast var, ast subr_call)
    {
        initialise();
        return create_call_as_method(the_empty_ann, std::move(class_name), var, subr_call);
    }

    ast create_subr_call(std::string subr_name, ast expr_list)
    {
        initialise();
        return create_subr_call(the_empty_ann, std::move(subr_name), expr_list);
    }

    ast create_infix_op(std::string op)
    {
        initialise();
        return create_infix_op(the_empty_ann, std::move(op));
    }

    // The list forms without annotations.
#define AST_LIST(kind)                                                                     \
    ast create_##kind(std::vector<ast> elements)                                           \
    {                                                                                      \
        initialise();                                                                      \
        return create_##kind(the_empty_ann, std::move(elements));                          \
    }
#include "ast/lists.def"
#undef AST_LIST
}
