#include "tests/passes/notation.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>
#include <vector>

using namespace Jack_Compiler;

namespace test_support
{
    namespace
    {
        struct token
        {
            enum kind_t { name, number, text, punct, end } kind;
            std::string value;
        };

        std::vector<token> tokenise(const std::string &s)
        {
            std::vector<token> tokens;
            size_t i = 0;
            while (i < s.size())
            {
                const unsigned char c = s[i];
                if (std::isspace(c))
                {
                    i++;
                }
                else if (std::isalpha(c) || c == '_')
                {
                    size_t j = i;
                    while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_'))
                        j++;
                    tokens.push_back({token::name, s.substr(i, j - i)});
                    i = j;
                }
                else if (std::isdigit(c))
                {
                    size_t j = i;
                    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                        j++;
                    tokens.push_back({token::number, s.substr(i, j - i)});
                    i = j;
                }
                else if (c == '"')
                {
                    const size_t j = s.find('"', i + 1);
                    if (j == std::string::npos)
                        throw std::invalid_argument("unterminated string in: " + s);
                    tokens.push_back({token::text, s.substr(i + 1, j - i - 1)});
                    i = j + 1;
                }
                else
                {
                    tokens.push_back({token::punct, std::string(1, static_cast<char>(c))});
                    i++;
                }
            }
            tokens.push_back({token::end, ""});
            return tokens;
        }

        class parser
        {
          public:
            explicit parser(const std::string &s) : source(s), tokens(tokenise(s)) {}

            ast whole_expr()
            {
                const ast e = expr();
                expect_end();
                return e;
            }

            ast whole_class()
            {
                const ast c = class_();
                expect_end();
                return c;
            }

          private:
            std::string source;
            std::vector<token> tokens;
            size_t at = 0;

            // Declared variables, so that uses carry their declaration's
            // segment, offset and type; undeclared names are int locals at 0.
            struct declaration
            {
                std::string segment;
                int offset;
                std::string type;
            };
            std::map<std::string, declaration> class_scope, subr_scope;

            const token &peek(size_t ahead = 0) const
            {
                return tokens[std::min(at + ahead, tokens.size() - 1)];
            }
            bool is(const std::string &value, size_t ahead = 0) const
            {
                const token &t = peek(ahead);
                return t.kind != token::end && t.kind != token::text && t.value == value;
            }
            [[noreturn]] void fail(const std::string &what) const
            {
                throw std::invalid_argument(what + " at token " + std::to_string(at) + " in: " + source);
            }
            void expect(const std::string &value)
            {
                if (!is(value))
                    fail("expected " + value);
                at++;
            }
            void expect_end() const
            {
                if (peek().kind != token::end)
                    fail("unexpected text");
            }
            std::string name()
            {
                if (peek().kind != token::name)
                    fail("expected a name");
                return tokens[at++].value;
            }

            ast variable(const std::string &n) const
            {
                for (const auto *scope : {&subr_scope, &class_scope})
                {
                    const auto found = scope->find(n);
                    if (found != scope->end())
                        return create_var(n, found->second.segment, found->second.offset, found->second.type);
                }
                return create_var(n, "local", 0, "int");
            }

            ast declare(const std::string &n, const std::string &segment, int offset, const std::string &type)
            {
                (segment == "static" || segment == "this" ? class_scope : subr_scope)[n] = {segment, offset, type};
                return create_var_dec(n, segment, offset, type);
            }

            static bool is_operator(const token &t)
            {
                if (t.kind != token::punct)
                    return false;
                const char c = t.value[0];
                return c != '(' && c != ')' && c != '[' && c != ']' && c != '{' && c != '}' && c != ',' &&
                       c != ';' && c != '.' && c != '~';
            }

            ast expr()
            {
                std::vector<ast> elements{term()};
                while (is_operator(peek()))
                {
                    elements.push_back(create_infix_op(tokens[at++].value));
                    elements.push_back(term());
                }
                return create_expr(elements);
            }

            ast arguments()
            {
                expect("(");
                std::vector<ast> list;
                if (!is(")"))
                {
                    list.push_back(expr());
                    while (is(","))
                    {
                        at++;
                        list.push_back(expr());
                    }
                }
                expect(")");
                return create_expr_list(list);
            }

            // f(args), Name.f(args), o.m(args) or this.m(args), the first
            // name already read.
            ast call(const std::string &first)
            {
                if (is("("))
                    return create_call_as_function("Main", create_subr_call(first, arguments()));
                expect(".");
                const std::string subr = name();
                const ast args = arguments();
                if (first == "this")
                    return create_call_as_method("Main", create_this(), create_subr_call(subr, args));
                if (std::isupper(static_cast<unsigned char>(first[0])))
                    return create_call_as_function(first, create_subr_call(subr, args));
                return create_call_as_method("Object", variable(first), create_subr_call(subr, args));
            }

            ast term()
            {
                const token t = peek();
                if (t.kind == token::number)
                {
                    at++;
                    return create_term(create_int(static_cast<int>(std::stol(t.value))));
                }
                if (t.kind == token::text)
                {
                    at++;
                    return create_term(create_string(t.value));
                }
                if (is("-") || is("~"))
                {
                    at++;
                    return create_term(create_unary_op(t.value, term()));
                }
                if (is("("))
                {
                    at++;
                    const ast e = expr();
                    expect(")");
                    return create_term(e);
                }
                const std::string n = name();
                if (is("(") || is("."))
                    return create_term(call(n));
                if (n == "true" || n == "false")
                    return create_term(create_bool(n == "true"));
                if (n == "null")
                    return create_term(create_null());
                if (n == "this")
                    return create_term(create_this());
                if (is("["))
                {
                    at++;
                    const ast index = expr();
                    expect("]");
                    return create_term(create_array_index(variable(n), index));
                }
                return create_term(variable(n));
            }

            ast block()
            {
                expect("{");
                std::vector<ast> list;
                while (!is("}"))
                    list.push_back(create_statement(statement()));
                expect("}");
                return create_statements(list);
            }

            ast statement()
            {
                if (is("{"))
                    return block();
                const std::string keyword = name();
                if (keyword == "let")
                {
                    const ast var = variable(name());
                    ast index = nullptr;
                    if (is("["))
                    {
                        at++;
                        index = expr();
                        expect("]");
                    }
                    expect("=");
                    const ast value = expr();
                    expect(";");
                    return index ? create_let_array(var, index, value) : create_let(var, value);
                }
                if (keyword == "if" || keyword == "while")
                {
                    expect("(");
                    const ast condition = expr();
                    expect(")");
                    const ast body = block();
                    if (keyword == "while")
                        return create_while(condition, body);
                    if (!is("else"))
                        return create_if(condition, body);
                    at++;
                    return create_if_else(condition, body, block());
                }
                if (keyword == "do")
                {
                    const ast c = call(name());
                    expect(";");
                    return create_do(c);
                }
                if (keyword == "return")
                {
                    if (is(";"))
                    {
                        at++;
                        return create_return();
                    }
                    const ast value = expr();
                    expect(";");
                    return create_return_expr(value);
                }
                fail("expected a statement");
            }

            // type name (, name)* ; with the keyword already read.
            std::vector<ast> declarations(const std::string &segment, int &offset)
            {
                const std::string type = name();
                std::vector<ast> decs{declare(name(), segment, offset++, type)};
                while (is(","))
                {
                    at++;
                    decs.push_back(declare(name(), segment, offset++, type));
                }
                expect(";");
                return decs;
            }

            ast subroutine()
            {
                const std::string kind = name();
                const std::string vtype = name();
                const std::string subr_name = name();
                expect("(");
                subr_scope.clear();
                std::vector<ast> params;
                int offset = 0;
                while (!is(")"))
                {
                    if (!params.empty())
                        expect(",");
                    const std::string type = name();
                    params.push_back(declare(name(), "argument", offset++, type));
                }
                expect(")");
                expect("{");
                std::vector<ast> locals;
                offset = 0;
                while (is("var"))
                {
                    at++;
                    for (ast d : declarations("local", offset))
                        locals.push_back(d);
                }
                std::vector<ast> statements;
                while (!is("}"))
                    statements.push_back(create_statement(statement()));
                expect("}");
                const ast body = create_subr_body(create_var_decs(locals), create_statements(statements));
                const ast param_list = create_param_list(params);
                if (kind == "constructor")
                    return create_subr(create_constructor(vtype, subr_name, param_list, body));
                if (kind == "function")
                    return create_subr(create_function(vtype, subr_name, param_list, body));
                if (kind == "method")
                    return create_subr(create_method(vtype, subr_name, param_list, body));
                fail("expected a subroutine");
            }

            ast class_()
            {
                if (name() != "class")
                    fail("expected class");
                const std::string class_name = name();
                expect("{");
                std::vector<ast> statics, fields;
                int static_offset = 0, field_offset = 0;
                while (is("static") || is("field"))
                {
                    const bool is_static = name() == "static";
                    for (ast d : declarations(is_static ? "static" : "this", is_static ? static_offset : field_offset))
                        (is_static ? statics : fields).push_back(d);
                }
                std::vector<ast> subrs;
                while (!is("}"))
                    subrs.push_back(subroutine());
                expect("}");
                return create_class(class_name, create_class_var_decs(statics), create_class_var_decs(fields),
                                    create_subr_decs(subrs));
            }
        };

        std::string print_list(ast list)
        {
            std::string s;
            for (int i = 0; i < size_of_expr_list(list); i++)
                s += (i ? ", " : "") + print_expr(get_expr_list(list, i));
            return s;
        }

        std::string print_call(ast call)
        {
            if (ast_node_kind(call) == ast_call_as_function)
            {
                const ast c = get_call_as_function_subr_call(call);
                const std::string class_name = get_call_as_function_class_name(call);
                return (class_name == "Main" ? "" : class_name + ".") + get_subr_call_subr_name(c) + "(" +
                       print_list(get_subr_call_expr_list(c)) + ")";
            }
            const ast c = get_call_as_method_subr_call(call);
            const ast object = get_call_as_method_var(call);
            const std::string on = ast_node_kind(object) == ast_this ? "this" : get_var_name(object);
            return on + "." + get_subr_call_subr_name(c) + "(" + print_list(get_subr_call_expr_list(c)) + ")";
        }
    }

    ast parse_expr(const std::string &text)
    {
        return parser(text).whole_expr();
    }

    ast parse_class(const std::string &text)
    {
        return parser(text).whole_class();
    }

    std::string print_term(ast term)
    {
        const ast held = get_term_term(term);
        switch (ast_node_kind(held))
        {
        case ast_int:
            return std::to_string(get_int_constant(held));
        case ast_bool:
            return get_bool_t_or_f(held) ? "true" : "false";
        case ast_string:
            return "\"" + get_string_constant(held) + "\"";
        case ast_null:
            return "null";
        case ast_this:
            return "this";
        case ast_var:
            return get_var_name(held);
        case ast_expr:
            return "(" + print_expr(held) + ")";
        case ast_unary_op:
            return get_unary_op_op(held) + " " + print_term(get_unary_op_term(held));
        case ast_array_index:
            return get_var_name(get_array_index_var(held)) + "[" + print_expr(get_array_index_index(held)) + "]";
        case ast_call_as_function:
        case ast_call_as_method:
            return print_call(held);
        default:
            return "<" + ast_kind_to_string(ast_node_kind(held)) + ">";
        }
    }

    std::string print_expr(ast expr)
    {
        std::string s;
        for (int i = 0; i < size_of_expr(expr); i++)
        {
            const ast element = get_expr(expr, i);
            s += i % 2 ? " " + get_infix_op_op(element) + " " : print_term(element);
        }
        return s;
    }
}
