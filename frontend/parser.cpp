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

        bool is_primitive(const std::string &type)
        {
            return type == "int" || type == "char" || type == "boolean" || type == "void";
        }

        // What may follow a missing ";" on its line (on a later line,
        // anything may).
        const std::initializer_list<const char *> after_semicolon = {"}"};
    }

    parser::parser(const source &src, int max_depth, diagnostics &diags)
        : src_(src), diags_(diags), lexer_(src, diags), max_depth_(max_depth)
    {
        summary_.src = &src;
        current_ = lexer_.next();
    }

    void parser::advance()
    {
        previous_ = current_;
        previous_end_ = current_.where;
        previous_end_.offset += static_cast<size_t>(current_.length);
        previous_end_.column += current_.length;
        current_ = lexer_.next();
    }

    bool parser::at(const char *text) const
    {
        return (current_.kind == token_kind::symbol || current_.kind == token_kind::keyword) && current_.text == text;
    }

    bool parser::at_statement_start() const
    {
        return at("let") || at("do") || at("if") || at("while") || at("return");
    }

    bool parser::at_member_start() const
    {
        return at("static") || at("field") || at("constructor") || at("function") || at("method");
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

    diagnostic *parser::report_expected(const std::string &expected, bool at_previous_end)
    {
        syntax_errors_++;
        summary_.complete = false;
        // A byte that starts no token has been reported by the lexer: what
        // the grammar expected there adds nothing.
        // One report a place: a token missing before the one found is
        // reported once, however many constructs it would have closed.
        if (current_.kind == token_kind::invalid || current_.where.offset + 1 == last_report_at_ ||
            suppressed_at_end())
            return nullptr;
        last_report_at_ = current_.where.offset + 1;
        if (at_previous_end && previous_.length > 0 && current_.where.line > previous_end_.line)
            return &diags_.report(diagnostic_id::expected_after, src_, previous_end_, {expected, describe(previous_)});
        return &diags_.report(diagnostic_id::expected_but_found, src_, current_.where, {expected, describe(current_)});
    }

    bool parser::suppressed_at_end()
    {
        if (current_.kind != token_kind::end)
            return false;
        if (reported_at_end_ || lexer_.comment_took_the_rest() || previous_.kind == token_kind::invalid)
            return true;
        reported_at_end_ = true;
        return false;
    }

    void parser::error_here(const std::string &expected)
    {
        report_expected(expected);
        throw syntax_error{};
    }

    void parser::expect_closing(const char *symbol, std::initializer_list<const char *> followers)
    {
        if (accept(symbol))
            return;
        bool follows = current_.kind == token_kind::end || current_.where.line > previous_end_.line;
        // A brace follows only where blocks begin and end.
        for (const char *f : followers)
            follows = follows || (at(f) && (!at("{") || ends_its_line()) && (!at("}") || ends_a_block()));
        report_expected(quoted(symbol), true);
        if (!follows)
            throw syntax_error{};
    }

    position parser::expect_open_brace(bool in_class)
    {
        const position brace = current_.where;
        if (accept("{"))
            return brace;
        // What a block holds first, on the next line: read on as if the
        // "{" stood there.
        const bool block_follows = current_.where.line > previous_end_.line &&
                                   (in_class ? at_member_start() || at("}") : at_statement_start() || at("var"));
        report_expected("\"{\"");
        if (!block_follows)
            throw syntax_error{};
        return brace;
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

    void parser::check_depth(int depth)
    {
        if (depth <= max_depth_)
            return;
        syntax_errors_++;
        summary_.complete = false;
        diags_.report(diagnostic_id::nesting_too_deep, src_, current_.where,
                      {std::to_string(max_depth_), describe(current_)});
        throw syntax_error{};
    }

    int parser::syntax_errors() const
    {
        return syntax_errors_ + lexer_.errors();
    }

    // Skips the rest of a statement that could not be read: up to and past
    // its ";", or past the block it opened, or up to what ends the block it
    // stands in. Parentheses and braces opened on the way are skipped whole,
    // so that a "for (...) { ... }" is one statement.
    void parser::skip_statement()
    {
        int parentheses = 0, braces = 0;
        bool first = true;
        for (;; first = false)
        {
            if (current_.kind == token_kind::end || at_member_start())
                return;
            // A brace that does not stand where blocks begin and end, at the
            // place of the error, is the wrong token itself.
            if (first && ((at("{") && !ends_its_line()) || (at("}") && !ends_a_block())))
            {
                advance();
                continue;
            }
            if (braces == 0 && at("}"))
                return;
            if (parentheses == 0 && braces == 0)
            {
                if (accept(";"))
                    return;
                // The next statement: one that starts a line is taken at once,
                // one on the line of the error only after something was skipped.
                if (at_statement_start() && (!first || current_.where.line > previous_end_.line))
                    return;
            }
            if (at("("))
                parentheses++;
            else if (at(")") && parentheses > 0)
                parentheses--;
            else if (at("{"))
                braces++;
            else if (at("}") && --braces == 0 && parentheses == 0)
            {
                advance();
                return;
            }
            advance();
        }
    }

    bool parser::ends_its_line() const
    {
        const std::string &text = src_.text();
        for (size_t i = current_.where.offset + static_cast<size_t>(current_.length); i < text.size(); i++)
        {
            if (text[i] == '\n' || text[i] == '\r' || text.compare(i, 2, "//") == 0 || text.compare(i, 2, "/*") == 0)
                return true;
            if (text[i] != ' ' && text[i] != '\t')
                return false;
        }
        return true;
    }

    bool parser::ends_a_block() const
    {
        if (ends_its_line())
            return true;
        const std::string &text = src_.text();
        size_t i = current_.where.offset + 1;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            i++;
        return text.compare(i, 4, "else") == 0 || text.compare(i, 1, "}") == 0;
    }

    void parser::skip_to_member()
    {
        while (current_.kind != token_kind::end && !at_member_start())
            advance();
        skipped_to_end_ = current_.kind == token_kind::end;
    }

    void parser::skip_past_semicolon()
    {
        while (current_.kind != token_kind::end && !at_member_start() && !at_statement_start() && !at("}"))
        {
            if (accept(";"))
                return;
            advance();
        }
        skipped_to_end_ = current_.kind == token_kind::end;
    }

    void parser::open_block(const token &owner, const position &brace)
    {
        blocks_.push_back(block{owner.where.line, owner.where.column, brace, false, {}, {}});
    }

    void parser::note_statement_start()
    {
        block &b = blocks_.back();
        if (!b.dedented && current_.where.line > b.owner_line && current_.where.column <= b.owner_column)
        {
            b.dedented = true;
            b.dedent_at = previous_end_;
            b.dedent_after = describe(previous_);
        }
    }

    void parser::close_block()
    {
        const block b = blocks_.back();
        blocks_.pop_back();
        if (at("}"))
        {
            // A "}" left of the block's owner, after a statement stood left of
            // it too, probably closes an outer block: the block's own "}" is
            // then missing where the statements went left.
            const bool left = current_.where.line > b.owner_line && current_.where.column < b.owner_column;
            if (left && b.dedented && !brace_guess_)
            {
                brace_guess_ = true;
                guessed_ = b;
            }
            else if (!left)
                brace_guess_ = false;
            advance();
            return;
        }
        report_missing_brace(b);
    }

    void parser::report_missing_brace(const block &b)
    {
        syntax_errors_++;
        summary_.complete = false;
        const block &missing = brace_guess_ ? guessed_ : b;
        diagnostic *d;
        if (brace_guess_ && !suppressed_at_end())
            d = &diags_.report(diagnostic_id::expected_after, src_, guessed_.dedent_at, {"\"}\"", guessed_.dedent_after});
        else if (brace_guess_)
            d = nullptr;
        else
            d = report_expected("\"}\"", true);
        if (d != nullptr)
            diags_.note(*d, diagnostic_id::to_match_this, src_, missing.brace);
        brace_guess_ = false;
    }

    ast parser::parse_class()
    {
        const ann annotations = doc_annotation(current_);
        const token owner = current_;
        position brace = current_.where;
        try
        {
            expect("class");
            const token name = current_;
            class_name_ = expect_name("a class name");
            summary_.name = class_name_;
            summary_.where = name.where;
            brace = expect_open_brace(true);
        }
        catch (const syntax_error &)
        {
            // On at the class's body: its "{", or its first member.
            while (current_.kind != token_kind::end && !at_member_start() && !accept("{"))
                advance();
            skipped_to_end_ = current_.kind == token_kind::end;
        }
        open_block(owner, brace);

        std::vector<ast> statics;
        std::vector<ast> fields;
        std::vector<ast> subroutines;
        for (;;)
        {
            if ((at("static") || at("field")) && subroutines.empty())
            {
                try
                {
                    class_var_dec(statics, fields);
                }
                catch (const syntax_error &)
                {
                    class_scope_incomplete_ = true;
                    skip_past_semicolon();
                }
            }
            else if (at("constructor") || at("function") || at("method"))
            {
                try
                {
                    subroutines.push_back(subroutine_dec());
                }
                catch (const syntax_error &)
                {
                    subroutine_scope_incomplete_ = false;
                    skip_to_member();
                }
            }
            else if (current_.kind == token_kind::end || at("}"))
                break;
            else
            {
                report_expected(subroutines.empty() && statics.empty() && fields.empty()
                                    ? "\"static\", \"field\", \"constructor\", \"function\", \"method\" or \"}\""
                                    : "\"constructor\", \"function\", \"method\" or \"}\"",
                                false);
                // What stood here may have declared fields or statics.
                class_scope_incomplete_ = true;
                advance();
                skip_to_member();
            }
            if (skipped_to_end_)
                break;
        }
        if (at("}"))
        {
            blocks_.pop_back();
            advance();
            if (current_.kind != token_kind::end)
                report_expected("end of input after the class", false);
        }
        else if (!skipped_to_end_)
            close_block();

        return create_class(annotations, class_name_, create_class_var_decs(statics), create_class_var_decs(fields),
                            create_subr_decs(subroutines));
    }

    ast parser::declare(const token &name, const std::string &type, const std::string &segment, scope &in,
                        ann annotations)
    {
        note_type(type, name);
        const scope::entry *e = in.declare(name.text, type, segment, name.where);
        if (e == nullptr)
        {
            const scope::entry *first = in.find(name.text);
            diagnostic &d = diags_.report(diagnostic_id::redeclared_variable, src_, name.where, {name.text});
            diags_.note(d, diagnostic_id::declared_here, src_, first->declared, {name.text});
            e = first;
        }
        else if (segment == "local")
            locals_.push_back(e);
        return create_var_dec(annotations, name.text, segment, symrec_offset(e->variable), type);
    }

    void parser::note_type(const std::string &type, const token &name)
    {
        if (!is_primitive(type))
            summary_.variables.push_back(typed_variable{type, name.text, name.where});
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
        expect_closing(";", after_semicolon);
    }

    ast parser::subroutine_dec()
    {
        const ann annotations = doc_annotation(current_);
        const token owner = current_;
        subroutine_places_.push_back(owner.where);
        kind_ = current_.text;
        advance();
        type_ = expect_type(true);
        const token name = current_;
        name_ = expect_name("a subroutine name");

        symbols_.subroutine_scope.clear();
        locals_.clear();
        subroutine_scope_incomplete_ = false;
        const int errors_before = syntax_errors();
        expect("(");
        const ast params = param_list(kind_ == "method");
        expect_closing(")", {"{"});

        const subroutine_summary *first = summary_.find(name_);
        if (first != nullptr && diags_.checking())
        {
            diagnostic &d =
                diags_.report(diagnostic_id::redeclared_subroutine, src_, name.where, {name_, class_name_});
            diags_.note(d, diagnostic_id::declared_here, src_, first->where, {name_});
        }
        else if (first == nullptr)
            summary_.subroutines.push_back(
                subroutine_summary{kind_, type_, name_, size_of_param_list(params), name.where});

        const ast body = subroutine_body(owner, errors_before);

        ast subroutine;
        if (kind_ == "constructor")
            subroutine = create_constructor(annotations, type_, name_, params, body);
        else if (kind_ == "function")
            subroutine = create_function(annotations, type_, name_, params, body);
        else
            subroutine = create_method(annotations, type_, name_, params, body);
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

    ast parser::subroutine_body(const token &owner, int errors_before)
    {
        const position brace = expect_open_brace(false);
        open_block(owner, brace);
        std::vector<ast> locals;
        while (at("var"))
        {
            try
            {
                advance();
                const std::string type = expect_type(false);
                do
                {
                    const token name = current_;
                    expect_name("a variable name");
                    locals.push_back(declare(name, type, "local", symbols_.subroutine_scope, create_ann()));
                } while (accept(","));
                expect_closing(";", after_semicolon);
            }
            catch (const syntax_error &)
            {
                subroutine_scope_incomplete_ = true;
                skip_past_semicolon();
            }
        }
        // class > subr-decs > subr > subroutine > subr-body > statements
        const ast body = statements(6);
        const bool falls_through = falls_through_;
        const bool ends_with_return_this = last_is_return_this_;
        const position end = current_.where;
        close_block();
        // After a syntax error the statements read are not all there are.
        if (syntax_errors() == errors_before && diags_.checking())
        {
            if (falls_through)
                diags_.report(diagnostic_id::falls_off_end, src_, end, {kind_, name_});
            else if (kind_ == "constructor" && !ends_with_return_this)
                diags_.report(diagnostic_id::constructor_return_this, src_, end, {name_});
            for (const scope::entry *e : locals_)
                if (!e->used)
                    diags_.report(diagnostic_id::unused_local, src_, e->declared, {symrec_name(e->variable)});
        }
        subroutine_scope_incomplete_ = false;
        return create_subr_body(create_var_decs(locals), body);
    }

    ast parser::statements(int depth)
    {
        std::vector<ast> list;
        bool reachable = true, after_return = false, warned = false, ends_with_return_this = false;
        for (;;)
        {
            if (at_statement_start())
            {
                note_statement_start();
                if (after_return && !warned && diags_.checking())
                {
                    diags_.report(diagnostic_id::unreachable_statement, src_, current_.where);
                    warned = true;
                }
                const bool is_return = at("return");
                try
                {
                    list.push_back(create_statement(statement(depth + 2)));
                    ends_with_return_this = last_is_return_this_;
                    reachable = reachable && falls_through_;
                    after_return = after_return || is_return;
                }
                catch (const syntax_error &)
                {
                    if (list.empty() && depth == 6)
                        subroutine_scope_incomplete_ = true;
                    ends_with_return_this = false;
                    skip_statement();
                }
            }
            else if (at("}") || at_member_start() || current_.kind == token_kind::end)
                break;
            else
            {
                const bool is_for = current_.kind == token_kind::identifier && current_.text == "for";
                // Nothing read yet: what stood here may have declared locals.
                if (list.empty() && depth == 6)
                    subroutine_scope_incomplete_ = true;
                if (diagnostic *d = report_expected("a statement or \"}\"", false))
                    if (is_for)
                        diags_.note(*d, diagnostic_id::no_for, src_, current_.where);
                advance();
                skip_statement();
            }
        }
        falls_through_ = reachable;
        last_is_return_this_ = ends_with_return_this;
        return create_statements(list);
    }

    ast parser::block_statements(const token &owner, int depth)
    {
        const position brace = expect_open_brace(false);
        open_block(owner, brace);
        const ast body = statements(depth);
        const bool falls_through = falls_through_;
        close_block();
        falls_through_ = falls_through;
        return body;
    }

    // depth is that of the statement's own element, below its wrapper.
    ast parser::statement(int depth)
    {
        // do > call > subr-call > subr-name is the deepest a statement goes
        // without an expression.
        check_depth(depth + 3);
        const token keyword = current_;
        statement_places_.push_back(keyword.where);
        last_is_return_this_ = false;
        falls_through_ = true;
        if (accept("let"))
        {
            const token name = current_;
            expect_name("a variable name");
            const ast var = variable(name);
            ast index = nullptr;
            if (accept("["))
            {
                index = expression(depth + 1);
                expect_closing("]", {"="});
            }
            expect("=");
            const ast value = expression(depth + 1);
            expect_closing(";", after_semicolon);
            falls_through_ = true;
            return index != nullptr ? create_let_array(var, index, value) : create_let(var, value);
        }
        if (at("if") || at("while"))
        {
            const bool is_if = at("if");
            advance();
            expect("(");
            const ast condition = expression(depth + 1);
            const bool forever = expression_is_true_;
            expect_closing(")", {"{"});
            const ast body = block_statements(keyword, depth + 1);
            const bool body_falls_through = falls_through_;
            last_is_return_this_ = false;
            if (!is_if)
            {
                // Jack has no way out of a loop but its condition.
                falls_through_ = !forever;
                return create_while(condition, body);
            }
            if (!accept("else"))
            {
                falls_through_ = true;
                return create_if(condition, body);
            }
            ast otherwise;
            if (at("if"))
            {
                if (diagnostic *d = report_expected("\"{\""))
                    diags_.note(*d, diagnostic_id::no_else_if, src_, current_.where);
                otherwise = create_statements({create_statement(statement(depth + 3))});
            }
            else
                otherwise = block_statements(keyword, depth + 1);
            falls_through_ = body_falls_through || falls_through_;
            last_is_return_this_ = false;
            return create_if_else(condition, body, otherwise);
        }
        if (accept("do"))
        {
            const token first = current_;
            expect_name("a subroutine, class or variable name");
            const ast c = call(first, depth + 1);
            expect_closing(";", after_semicolon);
            falls_through_ = true;
            return create_do(c);
        }
        expect("return");
        falls_through_ = false;
        if (at("}"))
        {
            // "return" at the end of a block: the ";" is what is missing.
            report_expected("\";\"", true);
            return create_return();
        }
        if (at(";"))
        {
            if (type_ != "void" && diags_.checking())
                diags_.report(diagnostic_id::no_value_returned, src_, keyword.where, {kind_, name_, type_});
            advance();
            return create_return();
        }
        const ast value = expression(depth + 1);
        const bool returns_this = expression_is_this_;
        if (type_ == "void" && diags_.checking())
            diags_.report(diagnostic_id::value_in_void, src_, keyword.where, {kind_, name_});
        expect_closing(";", after_semicolon);
        falls_through_ = false;
        last_is_return_this_ = returns_this;
        return create_return_expr(value);
    }

    ast parser::expression(int depth)
    {
        std::vector<ast> elements{term(depth + 1)};
        bool is_true = term_is_true_, is_this = term_is_this_;
        while (is_operator(current_))
        {
            elements.push_back(create_infix_op(current_.text));
            advance();
            elements.push_back(term(depth + 1));
            is_true = is_this = false;
        }
        expression_is_true_ = is_true;
        expression_is_this_ = is_this;
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
        term_is_true_ = term_is_this_ = false;
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
            {
                term_is_true_ = t.text == "true";
                return create_term(create_bool(t.text == "true"));
            }
            if (accept("null"))
                return create_term(create_null());
            if (accept("this"))
            {
                if (kind_ == "function" && diags_.checking())
                    diags_.report(diagnostic_id::this_in_function, src_, t.where);
                term_is_this_ = true;
                return create_term(create_this());
            }
            break;
        case token_kind::symbol:
            if (accept("("))
            {
                const ast inner = expression(depth + 1);
                const bool is_true = expression_is_true_, is_this = expression_is_this_;
                expect_closing(")", {";", "{"});
                term_is_true_ = is_true;
                term_is_this_ = is_this;
                return create_term(inner);
            }
            if (accept("-") || accept("~"))
            {
                const ast operand = term(depth + 2);
                term_is_true_ = term_is_this_ = false;
                return create_term(create_unary_op(t.text, operand));
            }
            break;
        case token_kind::identifier:
            advance();
            if (at("(") || at("."))
                return create_term(call(t, depth + 1));
            if (accept("["))
            {
                const ast index = expression(depth + 2);
                expect_closing("]", {";", ")"});
                term_is_true_ = term_is_this_ = false;
                return create_term(create_array_index(variable(t), index));
            }
            return create_term(variable(t));
        case token_kind::invalid:
        case token_kind::end:
            break;
        }
        error_here("a term");
    }

    // A call whose first name has been read; depth is that of the call's
    // element.
    ast parser::call(const token &first, int depth)
    {
        call_site site;
        site.where = first.where;
        site.in_function = kind_ == "function";
        if (accept("("))
        {
            // A plain name calls a method of this very object.
            const ast args = expression_list(depth + 2, site.arguments);
            expect_closing(")", {";"});
            site.how = call_site::on_this;
            site.class_name = class_name_;
            site.subroutine = first.text;
            summary_.calls.push_back(site);
            term_is_true_ = term_is_this_ = false;
            return create_call_as_method(class_name_, create_this(), create_subr_call(first.text, args));
        }
        if (!accept("."))
            error_here("\"(\" or \".\"");
        const std::string subroutine = expect_name("a subroutine name");
        expect("(");
        const ast args = expression_list(depth + 2, site.arguments);
        expect_closing(")", {";"});
        term_is_true_ = term_is_this_ = false;
        const ast subr_call = create_subr_call(subroutine, args);
        site.subroutine = subroutine;
        // A variable wins over a class of the same name.
        if (const scope::entry *e = symbols_.find(first.text))
        {
            site.how = call_site::through_variable;
            site.class_name = symrec_type(e->variable);
            site.variable = first.text;
            summary_.calls.push_back(site);
            return create_call_as_method(symrec_type(e->variable), variable(first), subr_call);
        }
        site.how = call_site::through_class;
        site.class_name = first.text;
        summary_.calls.push_back(site);
        return create_call_as_function(first.text, subr_call);
    }

    ast parser::expression_list(int depth, int &count)
    {
        std::vector<ast> list;
        if (!at(")"))
        {
            do
                list.push_back(expression(depth + 1));
            while (accept(","));
        }
        count = static_cast<int>(list.size());
        return create_expr_list(list);
    }

    ast parser::variable(const token &name)
    {
        const scope::entry *e = symbols_.find(name.text);
        if (e == nullptr)
        {
            // A declaration that could not be read may have been this one.
            if (!class_scope_incomplete_ && !subroutine_scope_incomplete_)
                diags_.report(diagnostic_id::undeclared_variable, src_, name.where, {name.text});
            return create_var(name.text, "local", 0, "int");
        }
        e->used = true;
        if (kind_ == "function" && symrec_segment(e->variable) == "this" && diags_.checking())
        {
            diagnostic &d = diags_.report(diagnostic_id::field_in_function, src_, name.where, {name.text});
            diags_.note(d, diagnostic_id::declared_here, src_, e->declared, {name.text});
        }
        return create_var(symrec_name(e->variable), symrec_segment(e->variable), symrec_offset(e->variable),
                          symrec_type(e->variable));
    }
}
