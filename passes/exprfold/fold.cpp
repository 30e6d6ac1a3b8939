#include "passes/exprfold/fold.h"

#include "iobuffer/iobuffer.h"
#include "passes/exprfold/copy_tree.h"

#include <utility>
#include <vector>

using Lum_IO_Buffers::fatal_error;

namespace Jack_Compiler
{
    bool has_calls = false;

    namespace
    {
        // The value modulo 2^16 as a signed 16-bit number. Every result is
        // computed in a wider type first, so nothing overflows on the way.
        int16_t wrap16(long long value)
        {
            const unsigned bits = static_cast<unsigned>(static_cast<unsigned long long>(value) & 0xFFFFu);
            return static_cast<int16_t>(bits >= 0x8000u ? static_cast<int>(bits) - 0x10000 : static_cast<int>(bits));
        }

        tclass constant(int16_t value)
        {
            tclass c;
            c.kind = tc_constant;
            c.value = value;
            return c;
        }

        tclass of_kind(int kind)
        {
            tclass c;
            c.kind = kind;
            return c;
        }

        // The value of a unary operator applied to v: "-" negates, and every
        // other operator (Jack has only "~") complements.
        int16_t apply_unary(const std::string &op, int16_t v)
        {
            return op == "-" ? wrap16(-static_cast<long long>(v)) : wrap16(~static_cast<long long>(v));
        }

        // The classification of the node that a term holds.
        tclass classify_held(ast held)
        {
            switch (ast_node_kind(held))
            {
            case ast_int:
                return constant(wrap16(get_int_constant(held)));
            case ast_bool:
                return constant(get_bool_t_or_f(held) ? -1 : 0);
            case ast_unary_op:
            {
                const tclass operand = term_classify(get_unary_op_term(held), false);
                if (operand.kind == tc_constant)
                    return constant(apply_unary(get_unary_op_op(held), operand.value));
                return of_kind(tc_simple);
            }
            case ast_var:
            {
                tclass c = of_kind(tc_variable);
                c.name = get_var_name(held);
                return c;
            }
            case ast_expr:
            case ast_string:
            case ast_null:
            case ast_this:
            case ast_array_index:
                return of_kind(tc_simple);
            default:
                return of_kind(tc_impure);
            }
        }

        ast integer_term(int16_t value)
        {
            return create_term(create_int(value));
        }

        // true and false stay booleans; any other bit pattern is a number.
        ast logical_term(int16_t value)
        {
            if (value == -1)
                return create_term(create_bool(true));
            if (value == 0)
                return create_term(create_bool(false));
            return create_term(create_int(value));
        }

        optimise_result folded(ast node)
        {
            optimise_result r;
            r.node = node;
            r.changed = true;
            return r;
        }
    }

    tclass term_classify(ast t, bool calls_seen)
    {
        if (calls_seen || ast_node_kind(t) != ast_term)
            return of_kind(tc_impure);
        return classify_held(get_term_term(t));
    }

    optimise_result optimise_expr(ast lhs, const tclass &lhs_class, ast op, ast rhs, const tclass &rhs_class)
    {
        // An operator is known by its first byte alone.
        const std::string op_text = get_infix_op_op(op);
        const char which = op_text.empty() ? '\0' : op_text[0];

        const bool lc = lhs_class.kind == tc_constant;
        const bool rc = rhs_class.kind == tc_constant;
        const int l = lhs_class.value;
        const int r = rhs_class.value;
        const bool l_pure = lhs_class.kind != tc_impure;
        const bool r_pure = rhs_class.kind != tc_impure;
        const bool same_variable = lhs_class.kind == tc_variable && rhs_class.kind == tc_variable &&
                                   lhs_class.name == rhs_class.name;

        // The tests of each operator run in this order; the first that holds
        // decides.
        switch (which)
        {
        case '+':
            if (lc && rc)
                return folded(integer_term(wrap16(l + r)));
            if (lc && l == 0)
                return folded(rhs);
            if (!lc && rc && r == 0)
                return folded(lhs);
            break;
        case '-':
            if (lc && rc)
                return folded(integer_term(wrap16(l - r)));
            if (!lc && rc && r == 0)
                return folded(lhs);
            if (same_variable)
                return folded(integer_term(0));
            break;
        case '*':
            if (lc && rc)
                return folded(integer_term(wrap16(static_cast<long long>(l) * r)));
            if (lc && l == 1)
                return folded(rhs);
            if (lc && l == 0 && r_pure)
                return folded(integer_term(0));
            if (rc && r == 1)
                return folded(lhs);
            if (rc && r == 0 && l_pure)
                return folded(integer_term(0));
            break;
        case '/':
            if (rc && r == 0)
            {
                // Left for run time. Marking it as a call keeps the enclosing
                // term impure, so no absorbing operand can remove it.
                has_calls = true;
                optimise_result r;
                r.node = create_expr(lhs, op, rhs);
                return r;
            }
            if (lc && rc)
                return folded(integer_term(wrap16(l / r)));  // -32768 / -1 wraps to -32768
            if (!lc && rc && r == 1)
                return folded(lhs);
            break;
        case '&':
            if (lc && rc)
                return folded(logical_term(wrap16(l & r)));
            if (lc && l == 0 && r_pure)
                return folded(logical_term(0));
            if (rc && r == 0 && l_pure)
                return folded(logical_term(0));
            if (same_variable)
                return folded(lhs);
            break;
        case '|':
            if (lc && rc)
                return folded(logical_term(wrap16(l | r)));
            if (lc && l == -1 && r_pure)
                return folded(logical_term(-1));
            if (rc && r == -1 && l_pure)
                return folded(logical_term(-1));
            if (same_variable)
                return folded(lhs);
            break;
        // Two constants are never the same variable, so the order of the two
        // tests of a comparison does not matter.
        case '<':
            if (same_variable)
                return folded(logical_term(0));
            if (lc && rc)
                return folded(logical_term(l < r ? -1 : 0));
            break;
        case '>':
            if (same_variable)
                return folded(logical_term(0));
            if (lc && rc)
                return folded(logical_term(l > r ? -1 : 0));
            break;
        case '=':
            if (same_variable)
                return folded(logical_term(-1));
            if (lc && rc)
                return folded(logical_term(l == r ? -1 : 0));
            break;
        default:
            break;
        }
        return unoptimised_expr(lhs, lhs_class, op, rhs, rhs_class);
    }

    optimise_result unoptimised_expr(ast lhs, const tclass &, ast op, ast rhs, const tclass &)
    {
        optimise_result r;
        r.node = create_expr(lhs, op, rhs);
        r.changed = false;
        return r;
    }

    ast copy_expr(ast t)
    {
        const bool calls_at_entry = has_calls;
        bool calls_inside = false;
        const int n = size_of_expr(t);

        // Elements are collected only once a term has changed; an unchanged
        // expression is handed back without copying anything.
        std::vector<ast> elements;
        bool changed = false;
        tclass classes[2];
        for (int i = 0; i < n; i++)
        {
            has_calls = false;
            const ast element = get_expr(t, i);
            ast copied = element;
            if (i % 2 == 0)
            {
                copied = copy_term(element);
                // Only a single-operator expression looks at its operands.
                if (n == 3)
                    classes[i / 2] = term_classify(copied, has_calls);
            }
            if (copied != element && !changed)
            {
                changed = true;
                elements.reserve(n);
                for (int j = 0; j < i; j++)
                    elements.push_back(get_expr(t, j));
            }
            if (changed)
                elements.push_back(copied);
            calls_inside = calls_inside || has_calls;
        }
        has_calls = calls_at_entry || calls_inside;

        auto element = [&](int i) { return changed ? elements[i] : get_expr(t, i); };

        if (n == 1)
        {
            // Parentheses around the whole expression go.
            const ast held = get_term_term(element(0));
            if (ast_node_kind(held) == ast_expr)
                return held;
            return changed ? create_expr(get_ann(t), std::move(elements)) : t;
        }
        if (n > 3)
        {
            // Only single-operator expressions are folded: 1 + 2 + 3 stays.
            // Such an expression is rebuilt even when no term changed.
            if (!changed)
                for (int i = 0; i < n; i++)
                    elements.push_back(get_expr(t, i));
            return create_expr(get_ann(t), std::move(elements));
        }

        // When nothing changed, the expression that optimise_expr leaves
        // unfolded is dropped again; it still counts against the node limit.
        const optimise_result r = optimise_expr(element(0), classes[0], element(1), element(2), classes[1]);
        if (!changed && !r.changed)
            return t;
        // A folded result is a term; an unfolded one, re-formed around a
        // changed operand, is a new expression of its own that does not
        // take over the annotations of t.
        if (ast_node_kind(r.node) == ast_term)
            return create_expr(get_ann(t), r.node);
        return r.node;
    }

    ast copy_term(ast t)
    {
        const ast held = get_term_term(t);
        switch (ast_node_kind(held))
        {
        case ast_expr:
        {
            // Parentheses around a single term go, however deeply nested.
            if (size_of_expr(held) == 1)
                return copy_term(get_expr(held, 0));
            const ast e = copy_expr(held);
            if (size_of_expr(e) == 1)
                return get_expr(e, 0);
            if (e == held)
                return t;
            return create_term(get_ann(t), e);
        }
        case ast_int:
        case ast_string:
        case ast_bool:
        case ast_null:
        case ast_this:
        case ast_var:
            return t;
        case ast_unary_op:
        {
            const ast u = copy_unary_op(held);
            const std::string op = get_unary_op_op(u);

            // The same operator twice cancels out: - -x and ~ ~x are x.
            const ast inner = get_term_term(get_unary_op_term(u));
            if (ast_node_kind(inner) == ast_unary_op && get_unary_op_op(inner) == op)
                return get_unary_op_term(inner);

            // The term made to classify u is dropped unless u folds, but it
            // counts against the node limit like any other node.
            const tclass c = term_classify(create_term(u), has_calls);
            if (c.kind == tc_constant)
                return op == "-" ? integer_term(c.value) : logical_term(c.value);
            return u == held ? t : create_term(get_ann(t), u);
        }
        case ast_array_index:
        {
            const ast index = get_array_index_index(held);
            const ast copied = copy_expr(index);
            if (copied == index)
                return t;
            return create_term(get_ann(t), create_array_index(get_ann(held), get_array_index_var(held), copied));
        }
        case ast_call_as_function:
        {
            const ast call = copy_call_as_function(held);
            return call == held ? t : create_term(get_ann(t), call);
        }
        case ast_call_as_method:
        {
            const ast call = copy_call_as_method(held);
            return call == held ? t : create_term(get_ann(t), call);
        }
        default:
            fatal_error(1, "Unexpected term kind\n");
        }
    }

    ast copy_unary_op(ast u)
    {
        const ast operand = get_unary_op_term(u);
        const ast copied = copy_term(operand);
        if (copied == operand)
            return u;
        return create_unary_op(get_ann(u), get_unary_op_op(u), copied);
    }
}
