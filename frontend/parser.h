// A recursive-descent reader of one Jack class with one token of look-ahead.
// It resolves every variable through the symbol table and builds the class's
// syntax tree through the checked constructors of the tree library, in the
// shape the tree form and the passes expect.
//
// Errors are reported, not fatal: after a syntax error the reader goes on at
// the next statement or declaration, so that one wrong token gives one
// report. The checks that need only the class itself (names, returns, the
// flow of control, unused locals) are made while it reads; what the checks
// across classes need is gathered in the class's summary.
#ifndef FRONTEND_PARSER_H
#define FRONTEND_PARSER_H

#include "ast/syntax_tree.h"
#include "frontend/class_summary.h"
#include "frontend/diagnostics.h"
#include "frontend/lexer.h"
#include "frontend/symbol_table.h"

#include <vector>

namespace Jack_Source
{
    class parser
    {
    public:
        // Trees deeper than max_depth elements are refused: the tree form's
        // reader would refuse them.
        parser(const source &src, int max_depth, diagnostics &diags);

        // Reads the whole text. The tree is the class's only when no error
        // was reported; too_many_errors passes through.
        Jack_Compiler::ast parse_class();

        const class_summary &summary() const { return summary_; }

        // Where each subroutine and each statement begins, in the order the
        // code writer meets them (a statement before those inside it).
        const std::vector<position> &subroutine_places() const { return subroutine_places_; }
        const std::vector<position> &statement_places() const { return statement_places_; }

    private:
        // Thrown after a syntax error has been reported; caught where the
        // reader can go on.
        struct syntax_error
        {
        };

        // A block of statements being read: the line and column of the
        // keyword that opened it and the place of its "{", to guess where a
        // missing "}" belongs from the indentation.
        struct block
        {
            int owner_line;
            int owner_column;
            position brace;
            bool dedented = false;  // a statement stood left of the owner
            position dedent_at;     // just past the token before it
            std::string dedent_after;
        };

        // Token handling.
        void advance();
        bool at(const char *symbol_or_keyword) const;
        bool at_statement_start() const;
        bool at_member_start() const;
        bool accept(const char *symbol_or_keyword);
        void expect(const char *symbol_or_keyword);
        // A token that closes what came before (";", ")"): when it is
        // missing and the next token can follow it, the report is made and
        // reading goes on as if it stood there.
        void expect_closing(const char *symbol, std::initializer_list<const char *> followers);
        // The place of the "{" that opens a block (of the class when
        // in_class); a missing one is taken as read when the block's first
        // token follows.
        position expect_open_brace(bool in_class);
        std::string expect_name(const char *what);
        std::string expect_type(bool void_allowed);
        // Reports what was expected and what was found; at_previous_end puts
        // the report just past the token before when the one found starts a
        // later line (where a missing ";" belongs, or the rest of a
        // construct cut short). Null when the lexer has
        // reported the token already.
        diagnostic *report_expected(const std::string &expected, bool at_previous_end = true);
        [[noreturn]] void error_here(const std::string &expected);
        int syntax_errors() const;

        // Going on after a syntax error.
        void skip_statement();
        void skip_to_member();
        void skip_past_semicolon();
        void open_block(const token &owner, const position &brace);
        void note_statement_start();
        void close_block();
        void report_missing_brace(const block &b);

        // Declarations.
        void class_var_dec(std::vector<Jack_Compiler::ast> &statics, std::vector<Jack_Compiler::ast> &fields);
        Jack_Compiler::ast subroutine_dec();
        Jack_Compiler::ast param_list(bool is_method);
        Jack_Compiler::ast subroutine_body(const token &owner, int errors_before);
        Jack_Compiler::ast declare(const token &name, const std::string &type, const std::string &segment,
                                   scope &in, Jack_Compiler::ann annotations);
        void note_type(const std::string &type, const token &name);

        // Statements and expressions; depth is the element depth of the
        // node being read in the tree form.
        Jack_Compiler::ast statements(int depth);
        Jack_Compiler::ast block_statements(const token &owner, int depth);
        Jack_Compiler::ast statement(int depth);
        Jack_Compiler::ast expression(int depth);
        Jack_Compiler::ast term(int depth);
        Jack_Compiler::ast call(const token &first, int depth);
        Jack_Compiler::ast expression_list(int depth, int &count);
        Jack_Compiler::ast variable(const token &name);
        void check_depth(int depth);

        const source &src_;
        diagnostics &diags_;
        lexer lexer_;
        token current_;
        token previous_;  // the last token read, kind end before the first
        position previous_end_;
        symbol_table symbols_;
        std::string class_name_;
        int max_depth_;
        class_summary summary_;
        std::vector<position> subroutine_places_, statement_places_;

        // The subroutine being read.
        std::string kind_, type_, name_;
        int syntax_errors_ = 0;  // in the whole class
        bool class_scope_incomplete_ = false;
        bool subroutine_scope_incomplete_ = false;
        std::vector<const scope::entry *> locals_;

        // What the statement just read leaves: whether control can go on
        // after it, and whether the expression just read is the constant
        // true.
        bool falls_through_ = true;
        bool last_is_return_this_ = false;
        bool expression_is_true_ = false, expression_is_this_ = false;
        bool term_is_true_ = false, term_is_this_ = false;
        bool skipped_to_end_ = false;  // a skip after an error met the end
        // One report at the end of the text says all: every block still
        // open there is open for the same reason.
        bool reported_at_end_ = false;
        bool suppressed_at_end();
        size_t last_report_at_ = 0;  // 1 + the offset of the last syntax report
        // Whether the current token is the last of its line, or a "}" that
        // ends its line or stands before "else" or another "}".
        bool ends_its_line() const;
        bool ends_a_block() const;

        std::vector<block> blocks_;
        // Where a "}" is probably missing: a block closed by a "}" standing
        // left of its owner after a statement had stood there.
        bool brace_guess_ = false;
        block guessed_;
    };
}

#endif
