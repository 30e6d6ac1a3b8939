#include "frontend/parser.h"

using namespace Jack_Compiler;
using Lum_Symbol_Tables::symrec_name;
using Lum_Symbol_Tables::symrec_offset;
using Lum_Symbol_Tables::symrec_segment;
using Lum_Symbol_Tables::symrec_type;

namespace Jack_Source
{
    namespace
    {
        // A documentation comment becomes a comment of the node it precedes.
        ann doc_annotation(const token &t)
        {
            return t.doc.empty() ? create_ann() : add_ann_comments(create_ann(), t.doc);
        }

        bool is_operator(const token &t)
        {
            return t.kind == token_kind::symbol && t.text.size() == 1 &&
                   std::string("+-*/&|<>=").find(t.text[0]) != std::string::npos;
        }

        std::string quoted(const char *text)
        {
            return std::string("\"") + text + "\"";
        }
    }

    parser::parser(const source &src, int max_depth) : src_(src), lexer_(src), max_depth_(max_depth)
    {
        advance();
    }

    void parser::advance()
    {
        current_ = lexer_.next();
    }

    bool parser::at(const char *text) const
    {
        return (current_.kind == token_kind::symbol || current_.kind == token_kind::keyword) && current_.text == text;
    }

    bool parser::accept(const char *text)
    {
        if (!at(text))
            return false;
        advance();
        return true;
    }

    void parser::expect(const char *text)
    {
        if (!accept(text))
            error_here(quoted(text));
    }

    void parser::error_here(const std::string &expected) const
    {
        src_.error(current_.where, expected, describe(current_));
    }

    std::string parser::expect_name(const char *what)
    {
        if (current_.kind != token_kind::identifier)
            error_here(what);
        std::string name = current_.text;
        advance();
        return name;
    }

    std::string parser::expect_type(bool void_allowed)
    {
        if (at("int") || at("char") || at("boolean") || (void_allowed && at("void")))
        {
            std::string type = current_.text;
            advance();
            return type;
        }
        return expect_name(void_allowed ? "a type or \"void\"" : "a type");
    }

    void parser::check_depth(int depth) const
    {
        if (depth > max_depth_)
            error_here("nesting no deeper than " + std::to_string(max_depth_) + " tree levels");
    }

    ast parser::parse_class()
    {
        const ann annotations = doc_annotation(current_);
        expect("class");
        class_name_ = expect_name("a class name");
        expect("{");

        std::vector<ast> statics;
        std::vector<ast> fields;
        while (at("static") || at("field"))
            class_var_dec(statics, fields);

        std::vector<ast> subroutines;
        while (at("constructor") || at("function") || at("method"))
            subroutines.push_back(subroutine_dec());

        if (!at("}"))
            error_here(subroutines.empty() && statics.empty() && fields.empty()
                           ? "\"static\", \"field\", \"constructor\", \"function\", \"method\" or \"}\""
                           : "\"constructor\", \"function\", \"method\" or \"}\"");
        advance();
        if (current_.kind != token_kind::end)
            error_here("end of input after the class");

        return create_class(annotations, class_name_, create_class_var_decs(statics), create_class_var_decs(fields),
                            create_subr_decs(subroutines));
    }

    ast parser::declare(const token &name, const std::string &type, const std::string &segment, scope &in,
                        ann annotations)
    {
        const scope::entry *e = in.declare(name.text, type, segment, name.where);
        if (e == nullptr)
        {
            const scope::entry *first = in.find(name.text);
            src_.error(name.where, "a name not yet declared in this scope",
                       "\"" + name.text + "\", declared already at line " + std::to_string(first->declared.line));
        }
        return create_var_dec(annotations, name.text, segment, symrec_offset(e->variable), type);
    }

    void parser::class_var_dec(std::vector<ast> &statics, std::vector<ast> &fields)
    {
        const ann annotations = doc_annotation(current_);
        const bool is_static = at("static");
        advance();
        const std::string segment = is_static ? "static" : "this";
        const std::string type = expect_type(false);
        do
        {
            const token name = current_;
            expect_name("a variable name");
            (is_static ? statics : fields)
                .push_back(declare(name, type, segment, symbols_.class_scope, annotations));
        } while (accept(","));
        expect(";");
    }

    ast parser::subroutine_dec()
    {
        const ann annotations = doc_annotation(current_);
        const std::string kind = current_.text;
        advance();
        const std::string vtype = expect_type(true);
        const std::string name = expect_name("a subroutine name");

        symbols_.subroutine_scope.clear();
        expect("(");
        const ast params = param_list(kind == "method");
        expect(")");
        const ast body = subroutine_body();

        ast subroutine;
        if (kind == "constructor")
            subroutine = create_constructor(annotations, vtype, name, params, body);
        else if (kind == "function")
            subroutine = create_function(annotations, vtype, name, params, body);
        else
            subroutine = create_method(annotations, vtype, name, params, body);
        return create_subr(subroutine);
    }

    ast parser::param_list(bool is_method)
    {
        // Argument 0 of a method is the object itself.
        symbols_.subroutine_scope.start_segment_at("argument", is_method ? 1 : 0);
        std::vector<ast> params;
        if (!at(")"))
        {
            do
            {
                const std::string type = expect_type(false);
                const token name = current_;
                expect_name("a parameter name");
                params.push_back(declare(name, type, "argument", symbols_.subroutine_scope, create_ann()));
            } while (accept(","));
        }
        return create_param_list(params);
    }

    ast parser::subroutine_body()
    {
        expect("{");
        std::vector<ast> locals;
        while (accept("var"))
        {
            const std::string type = expect_type(false);
            do
            {
                const token name = current_;
                expect_name("a variable name");
                locals.push_back(declare(name, type, "local", symbols_.subroutine_scope, create_ann()));
            } while (accept(","));
            expect(";");
        }
        // class > subr-decs > subr > subroutine > subr-body > statements
        const ast body = statements(6);
        expect("}");
        return create_subr_body(create_var_decs(locals), body);
    }

    ast parser::statements(int depth)
    {
        std::vector<ast> list;
        while (at("let") || at("if") || at("while") || at("do") || at("return"))
            list.push_back(create_statement(statement(depth + 2)));
        if (!at("}"))
            error_here("a statement or \"}\"");
        return create_statements(list);
    }

    // depth is that of the statement's own element, below its wrapper.
    ast parser::statement(int depth)
    {
        // do > call > subr-call > subr-name is the deepest a statement goes
        // without an expression.
        check_depth(depth + 3);
        if (accept("let"))
        {
            const token name = current_;
            expect_name("a variable name");
            const ast var = variable(name);
            ast index = nullptr;
            if (accept("["))
            {
                index = expression(depth + 1);
                expect("]");
            }
            expect("=");
            const ast value = expression(depth + 1);
            expect(";");
            return index != nullptr ? create_let_array(var, index, value) : create_let(var, value);
        }
        if (at("if") || at("while"))
        {
            const bool is_if = at("if");
            advance();
            expect("(");
            const ast condition = expression(depth + 1);
            expect(")");
            expect("{");
            const ast body = statements(depth + 1);
            expect("}");
            if (!is_if)
                return create_while(condition, body);
            if (!accept("else"))
                return create_if(condition, body);
            expect("{");
            const ast otherwise = statements(depth + 1);
            expect("}");
            return create_if_else(condition, body, otherwise);
        }
        if (accept("do"))
        {
            const token first = current_;
            expect_name("a subroutine, class or variable name");
            const ast c = call(first, depth + 1);
            expect(";");
            return create_do(c);
        }
        expect("return");
        if (accept(";"))
            return create_return();
        const ast value = expression(depth + 1);
        expect(";");
        return create_return_expr(value);
    }

    ast parser::expression(int depth)
    {
        std::vector<ast> elements{term(depth + 1)};
        while (is_operator(current_))
        {
            elements.push_back(create_infix_op(current_.text));
            advance();
            elements.push_back(term(depth + 1));
        }
        return create_expr(elements);
    }

    // depth is that of the term element; its content stands one deeper.
    ast parser::term(int depth)
    {
        // The deepest leaf below a term that reads no further expression:
        // term > call > subr-call > subr-name, or term > array-index > var >
        // var-name.
        check_depth(depth + 3);
        const token t = current_;
        switch (t.kind)
        {
        case token_kind::integer:
            advance();
            return create_term(create_int(t.value));
        case token_kind::string:
            advance();
            return create_term(create_string(t.text));
        case token_kind::keyword:
            if (accept("true") || accept("false"))
                return create_term(create_bool(t.text == "true"));
            if (accept("null"))
                return create_term(create_null());
            if (accept("this"))
                return create_term(create_this());
            break;
        case token_kind::symbol:
            if (accept("("))
            {
                const ast inner = expression(depth + 1);
                expect(")");
                return create_term(inner);
            }
            if (accept("-") || accept("~"))
                return create_term(create_unary_op(t.text, term(depth + 2)));
            break;
        case token_kind::identifier:
            advance();
            if (at("(") || at("."))
                return create_term(call(t, depth + 1));
            if (accept("["))
            {
                const ast index = expression(depth + 2);
                expect("]");
                return create_term(create_array_index(variable(t), index));
            }
            return create_term(variable(t));
        case token_kind::end:
            break;
        }
        error_here("a term");
    }

    // A call whose first name has been read; depth is that of the call's
    // element.
    ast parser::call(const token &first, int depth)
    {
        if (accept("("))
        {
            // A plain name calls a method of this very object.
            const ast args = expression_list(depth + 2);
            expect(")");
            return create_call_as_method(class_name_, create_this(), create_subr_call(first.text, args));
        }
        expect(".");
        const std::string subroutine = expect_name("a subroutine name");
        expect("(");
        const ast args = expression_list(depth + 2);
        expect(")");
        const ast subr_call = create_subr_call(subroutine, args);
        // A variable wins over a class of the same name.
        if (const scope::entry *e = symbols_.find(first.text))
            return create_call_as_method(symrec_type(e->variable), variable(first), subr_call);
        return create_call_as_function(first.text, subr_call);
    }

    ast parser::expression_list(int depth)
    {
        std::vector<ast> list;
        if (!at(")"))
        {
            do
                list.push_back(expression(depth + 1));
            while (accept(","));
        }
        return create_expr_list(list);
    }

    ast parser::variable(const token &name)
    {
        const scope::entry *e = symbols_.find(name.text);
        if (e == nullptr)
            src_.error(name.where, "a declared variable", "\"" + name.text + "\"");
        return create_var(symrec_name(e->variable), symrec_segment(e->variable), symrec_offset(e->variable),
                          symrec_type(e->variable));
    }
}
