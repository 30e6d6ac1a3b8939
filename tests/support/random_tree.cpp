#include "tests/support/random_tree.h"

#include "iobuffer/iobuffer.h"

#include <cstdio>
#include <stdexcept>

using namespace Jack_Compiler;

namespace test_support
{
    namespace
    {
        // Every random choice is made in a statement of its own, never in
        // a function argument, so that a seed gives the same tree whatever
        // order a compiler evaluates arguments in.
        class tree_maker
        {
        public:
            explicit tree_maker(std::mt19937 &r) : rng(r) {}

            ast make_class()
            {
                const ann a = annotations();
                const std::string name = text();
                const ast statics = class_var_decs();
                const ast fields = class_var_decs();
                const ast subrs = subr_decs();
                return create_class(a, name, statics, fields, subrs);
            }

        private:
            std::mt19937 &rng;
            int depth = 0;  // of statements and expressions; bounded by max_depth

            static const int max_depth = 4;

            int below(int n)
            {
                return std::uniform_int_distribution<int>(0, n - 1)(rng);
            }

            bool chance(int percent)
            {
                return below(100) < percent;
            }

            // Mostly short names, sometimes any bytes the form must escape or
            // pass through: markup characters, control bytes, 127 and above.
            std::string text()
            {
                static const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
                static const std::string awkward = std::string("<>&\"' \t\n\r\x7f;#") + std::string(1, '\0');
                const int length = 1 + below(8);
                const bool odd = chance(30);
                std::string s;
                for (int i = 0; i < length; i++)
                {
                    if (!odd || chance(50))
                        s += letters[below(static_cast<int>(letters.size()))];
                    else if (chance(60))
                        s += awkward[below(static_cast<int>(awkward.size()))];
                    else
                        s += static_cast<char>(128 + below(128));
                }
                return s;
            }

            // The bounds themselves come up often: they are where a reader
            // that checks its ranges wrongly fails.
            int in_range(int min, int max)
            {
                switch (below(6))
                {
                case 0: return min;
                case 1: return max;
                default: return std::uniform_int_distribution<int>(min, max)(rng);
                }
            }

            ann annotations()
            {
                if (!chance(20))
                    return create_ann();
                std::vector<std::string> lists[3];
                for (std::vector<std::string> &list : lists)
                    for (int n = below(3); n > 0; n--)
                        list.push_back(text());
                if (lists[0].empty() && lists[1].empty() && lists[2].empty())
                    lists[below(3)].push_back(text());
                return create_ann(lists[0], lists[1], lists[2]);
            }

            template <typename Make>
            std::vector<ast> several(int most, Make make)
            {
                std::vector<ast> v;
                for (int n = below(most + 1); n > 0; n--)
                    v.push_back(make());
                return v;
            }

            template <typename Make>
            ast list(ast (*create)(ann, std::vector<ast>), int most, Make make)
            {
                const ann a = annotations();
                return create(a, several(most, make));
            }

            // The four fields of a declaration or a use of a variable.
            template <typename Create>
            ast variable(Create create)
            {
                const ann a = annotations();
                const std::string name = text();
                const std::string segment = text();
                const int offset = in_range(0, 32767);
                const std::string type = text();
                return create(a, name, segment, offset, type);
            }

            ast var_dec()
            {
                return variable(static_cast<ast (*)(ann, std::string, std::string, int, std::string)>(create_var_dec));
            }

            ast var()
            {
                return variable(static_cast<ast (*)(ann, std::string, std::string, int, std::string)>(create_var));
            }

            ast class_var_decs()
            {
                return list(create_class_var_decs, 3, [this] { return var_dec(); });
            }

            ast subr_decs()
            {
                return list(create_subr_decs, 3, [this] { return subr(); });
            }

            ast subr()
            {
                const ann a = annotations();
                const ann b = annotations();
                const std::string vtype = text();
                const std::string name = text();
                const ast params = list(create_param_list, 3, [this] { return var_dec(); });
                const ann body_ann = annotations();
                const ast decs = list(create_var_decs, 3, [this] { return var_dec(); });
                const ast body = create_subr_body(body_ann, decs, statements());
                switch (below(3))
                {
                case 0: return create_subr(a, create_constructor(b, vtype, name, params, body));
                case 1: return create_subr(a, create_function(b, vtype, name, params, body));
                default: return create_subr(a, create_method(b, vtype, name, params, body));
                }
            }

            ast statements()
            {
                depth++;
                const ast s = list(create_statements, depth < max_depth ? 4 : 1, [this] { return statement(); });
                depth--;
                return s;
            }

            ast statement()
            {
                const ann a = annotations();
                const ann b = annotations();
                ast s;
                switch (below(depth < max_depth ? 8 : 4))
                {
                case 0:
                {
                    const ast v = var();
                    s = create_let(b, v, expr());
                    break;
                }
                case 1: s = create_do(b, call()); break;
                case 2: s = create_return(b); break;
                case 3: s = create_return_expr(b, expr()); break;
                case 4:
                {
                    const ast v = var();
                    const ast index = expr();
                    s = create_let_array(b, v, index, expr());
                    break;
                }
                case 5:
                {
                    const ast condition = expr();
                    s = create_if(b, condition, statements());
                    break;
                }
                case 6:
                {
                    const ast condition = expr();
                    const ast if_true = statements();
                    s = create_if_else(b, condition, if_true, statements());
                    break;
                }
                default:
                {
                    const ast condition = expr();
                    s = create_while(b, condition, statements());
                    break;
                }
                }
                return create_statement(a, s);
            }

            ast expr()
            {
                depth++;
                const ann a = annotations();
                std::vector<ast> v{term()};
                for (int n = below(depth < max_depth ? 3 : 1); n > 0; n--)
                {
                    const ann op_ann = annotations();
                    v.push_back(create_infix_op(op_ann, text()));
                    v.push_back(term());
                }
                depth--;
                return create_expr(a, v);
            }

            ast call()
            {
                const ann a = annotations();
                const std::string class_name = text();
                const bool as_method = chance(50);
                ast object = nullptr;
                if (as_method)
                {
                    const ann this_ann = annotations();
                    object = chance(50) ? var() : create_this(this_ann);
                }
                depth++;
                const ann call_ann = annotations();
                const std::string subr_name = text();
                const ast args = list(create_expr_list, depth < max_depth ? 3 : 0, [this] { return expr(); });
                const ast subr_call = create_subr_call(call_ann, subr_name, args);
                depth--;
                if (as_method)
                    return create_call_as_method(a, class_name, object, subr_call);
                return create_call_as_function(a, class_name, subr_call);
            }

            ast term()
            {
                const ann a = annotations();
                const ann b = annotations();
                ast t;
                switch (below(depth < max_depth ? 11 : 6))
                {
                case 0: t = create_int(b, in_range(-32768, 32767)); break;
                case 1: t = create_string(b, text()); break;
                case 2: t = create_bool(b, chance(50)); break;
                case 3: t = create_null(b); break;
                case 4: t = create_this(b); break;
                case 5: t = var(); break;
                case 6: t = expr(); break;
                case 7:
                {
                    const ast v = var();
                    t = create_array_index(b, v, expr());
                    break;
                }
                case 8:
                case 9: t = call(); break;
                default:
                {
                    const std::string op = text();
                    t = create_unary_op(b, op, term());
                    break;
                }
                }
                return create_term(a, t);
            }
        };
    }

    ast random_class(std::mt19937 &rng)
    {
        return tree_maker(rng).make_class();
    }

    std::string random_class_xml(unsigned seed, int step_width)
    {
        const process_result r = run_in_child([&] {
            std::mt19937 rng(seed);
            ast_print_as_xml(random_class(rng), step_width);
            Lum_IO_Buffers::print_output();
        });
        if (!r.exited || r.exit_code != 0 || !r.err.empty())
            throw std::runtime_error("writing random tree " + std::to_string(seed) + " failed: " + r.err);
        return r.out;
    }

    std::string nested_class_xml(int depth, int step_width)
    {
        if (depth < 11)
            throw std::invalid_argument("a class cannot nest fewer than 11 elements deep here");
        const size_t step = step_width > 0 ? static_cast<size_t>(step_width) : 0;
        const std::string end = step == 0 ? "" : "\n";
        std::string text;
        size_t level = 0;  // of the next line
        auto indent = [&] { text.append(level * step, ' '); };
        auto open = [&](const char *tag) {
            indent();
            text += std::string("<") + tag + ">" + end;
            level++;
        };
        auto close = [&](const char *tag) {
            level--;
            indent();
            text += std::string("</") + tag + ">" + end;
        };
        auto leaf = [&](const char *tag, const char *value) {
            indent();
            text += std::string("<") + tag + ">" + value + "</" + tag + ">" + end;
        };
        auto empty = [&](const char *tag) {
            open(tag);
            close(tag);
        };

        // class, subr-decs, subr, function, subr-body, statements, statement,
        // return-expr, expr, term: ten levels; then two per parenthesis,
        // then "null" (one level) or "int" and "ic" (two).
        const int parentheses = (depth - 11) / 2;
        const bool ends_in_null = (depth - 11) % 2 == 0;
        open("class");
        leaf("class-name", "Deep");
        empty("class-var-decs");
        empty("class-var-decs");
        open("subr-decs");
        open("subr");
        open("function");
        leaf("vtype", "int");
        leaf("name", "deep");
        empty("param-list");
        open("subr-body");
        empty("var-decs");
        open("statements");
        open("statement");
        open("return-expr");
        open("expr");
        open("term");
        for (int i = 0; i < parentheses; i++)
        {
            open("expr");
            open("term");
        }
        if (ends_in_null)
            empty("null");
        else
        {
            open("int");
            leaf("ic", "1");
            close("int");
        }
        for (int i = 0; i < parentheses; i++)
        {
            close("term");
            close("expr");
        }
        for (const char *tag : {"term", "expr", "return-expr", "statement", "statements", "subr-body", "function", "subr",
                                "subr-decs", "class"})
            close(tag);
        return text;
    }
}
