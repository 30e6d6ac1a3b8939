// Folding must not change what an expression computes. Random expressions are
// folded by the pass, and both trees are evaluated under many assignments of
// their variables; wherever the original does not divide by zero, the folded
// tree must give the same 16-bit value.
#include "passes/exprfold/fold.h"
#include "tests/passes/notation.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>
#include <string>

using namespace Jack_Compiler;

namespace
{
    using value = std::optional<int16_t>;  // empty after a division by zero
    using assignment = std::map<std::string, int16_t>;

    int16_t wrap(long long v)
    {
        const long long bits = ((v % 65536) + 65536) % 65536;
        return static_cast<int16_t>(bits >= 32768 ? bits - 65536 : bits);
    }

    value evaluate_expr(ast e, const assignment &vars);

    // Array elements and calls are pure functions here, so that folding may
    // keep or drop them without changing the value.
    value evaluate_term(ast term, const assignment &vars)
    {
        const ast held = get_term_term(term);
        switch (ast_node_kind(held))
        {
        case ast_int:
            return wrap(get_int_constant(held));
        case ast_bool:
            return static_cast<int16_t>(get_bool_t_or_f(held) ? -1 : 0);
        case ast_var:
            return vars.at(get_var_name(held));
        case ast_expr:
            return evaluate_expr(held, vars);
        case ast_unary_op:
        {
            const value v = evaluate_term(get_unary_op_term(held), vars);
            if (!v)
                return v;
            return wrap(get_unary_op_op(held) == "-" ? -static_cast<long long>(*v) : ~static_cast<long long>(*v));
        }
        case ast_array_index:
        {
            const value i = evaluate_expr(get_array_index_index(held), vars);
            return i ? value(wrap(*i * 31LL + 7)) : i;
        }
        case ast_call_as_function:
        {
            const ast args = get_subr_call_expr_list(get_call_as_function_subr_call(held));
            long long sum = 1;
            for (int i = 0; i < size_of_expr_list(args); i++)
            {
                const value v = evaluate_expr(get_expr_list(args, i), vars);
                if (!v)
                    return v;
                sum = sum * 3 + *v;
            }
            return wrap(sum);
        }
        default:
            ADD_FAILURE() << "cannot evaluate " << ast_kind_to_string(ast_node_kind(held));
            return value();
        }
    }

    // Left to right, no precedence; comparisons give -1 or 0.
    value evaluate_expr(ast e, const assignment &vars)
    {
        value acc = evaluate_term(get_expr(e, 0), vars);
        for (int i = 1; acc && i < size_of_expr(e); i += 2)
        {
            const value rhs = evaluate_term(get_expr(e, i + 1), vars);
            if (!rhs)
                return rhs;
            const long long l = *acc, r = *rhs;
            switch (get_infix_op_op(get_expr(e, i))[0])
            {
            case '+': acc = wrap(l + r); break;
            case '-': acc = wrap(l - r); break;
            case '*': acc = wrap(l * r); break;
            case '/':
                if (r == 0)
                    return value();
                acc = wrap(l / r);
                break;
            case '&': acc = wrap(l & r); break;
            case '|': acc = wrap(l | r); break;
            case '<': acc = static_cast<int16_t>(l < r ? -1 : 0); break;
            case '>': acc = static_cast<int16_t>(l > r ? -1 : 0); break;
            case '=': acc = static_cast<int16_t>(l == r ? -1 : 0); break;
            default: ADD_FAILURE() << "unknown operator"; return value();
            }
        }
        return acc;
    }

    class expression_generator
    {
      public:
        explicit expression_generator(unsigned seed) : random(seed) {}

        std::string expr(int depth)
        {
            // Mostly one operator, since only those fold at their own level.
            static const int term_counts[] = {1, 2, 2, 2, 3};
            const int terms = depth <= 0 ? 1 : term_counts[pick(5)];
            std::string s = term(depth);
            for (int i = 1; i < terms; i++)
                s += std::string(" ") + "+-*/&|<>="[pick(9)] + " " + term(depth);
            return s;
        }

      private:
        std::mt19937 random;

        int pick(int n)
        {
            return static_cast<int>(random() % static_cast<unsigned>(n));
        }

        std::string leaf()
        {
            static const char *leaves[] = {"0", "1", "2", "3", "7", "255", "32767", "true", "false", "x", "y", "z", "x"};
            if (pick(8) == 0)
                return std::to_string(pick(32768));
            return leaves[pick(13)];
        }

        std::string term(int depth)
        {
            if (depth <= 0)
                return leaf();
            switch (pick(10))
            {
            case 0:
            case 1:
                return "(" + expr(depth - 1) + ")";
            case 2:
                return "-" + term(depth - 1);
            case 3:
                return "~" + term(depth - 1);
            case 4:
                return "a[" + expr(depth - 1) + "]";
            case 5:
                return "f(" + expr(depth - 1) + (pick(2) ? ", " + expr(depth - 1) : "") + ")";
            default:
                return leaf();
            }
        }
    };

    TEST(FoldSemantics, FoldedExpressionsComputeWhatTheOriginalsCompute)
    {
        expression_generator generate(20240611);
        std::mt19937 random(7);
        const int16_t interesting[] = {0, 1, -1, 2, 3, 7, 32767, -32768, 255, -2};
        int checked = 0, folded = 0;
        for (int n = 0; n < 4000; n++)
        {
            const std::string text = generate.expr(1 + n % 4);
            const ast original = test_support::parse_expr(text);
            const ast result = copy_expr(original);
            if (result != original)
                folded++;
            for (int k = 0; k < 40; k++)
            {
                assignment vars;
                for (const char *name : {"x", "y", "z"})
                    vars[name] = k < 10 ? interesting[(k + name[0]) % 10] : wrap(static_cast<long long>(random()));
                const value before = evaluate_expr(original, vars);
                if (!before)
                    continue;  // the original divides by zero here
                const value after = evaluate_expr(result, vars);
                checked++;
                if (before != after)
                {
                    ADD_FAILURE() << text << "  folded to  " << test_support::print_expr(result) << "  x=" << vars["x"]
                                  << " y=" << vars["y"] << " z=" << vars["z"] << ": " << *before << " became "
                                  << (after ? std::to_string(*after) : "a division by zero");
                    return;
                }
            }
        }
        // Guard the generator itself: most expressions must fold somewhere.
        EXPECT_GT(folded, 2000);
        EXPECT_GT(checked, 100000);
    }
}
