// A recursive-descent reader of one Jack class with one token of look-ahead.
// It resolves every variable through the symbol table and builds the class's
// syntax tree through the checked constructors of the tree library, in the
// shape the tree form and the passes expect.
#ifndef TOOLS_JACK2XML_PARSER_H
#define TOOLS_JACK2XML_PARSER_H

#include "ast/syntax_tree.h"
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
        parser(const source &src, int max_depth);

        // Reads the whole text; every error ends the program.
        Jack_Compiler::ast parse_class();

    private:
        // Token handling.
        void advance();
        bool at(const char *symbol_or_keyword) const;
        bool accept(const char *symbol_or_keyword);
        void expect(const char *symbol_or_keyword);
        std::string expect_name(const char *what);
        std::string expect_type(bool void_allowed);
        [[noreturn]] void error_here(const std::string &expected) const;

        // Declarations.
        void class_var_dec(std::vector<Jack_Compiler::ast> &statics, std::vector<Jack_Compiler::ast> &fields);
        Jack_Compiler::ast subroutine_dec();
        Jack_Compiler::ast param_list(bool is_method);
        Jack_Compiler::ast subroutine_body();
        Jack_Compiler::ast declare(const token &name, const std::string &type, const std::string &segment,
                                   scope &in, Jack_Compiler::ann annotations);

        // Statements and expressions; depth is the element depth of the
        // node being read in the tree form.
        Jack_Compiler::ast statements(int depth);
        Jack_Compiler::ast statement(int depth);
        Jack_Compiler::ast expression(int depth);
        Jack_Compiler::ast term(int depth);
        Jack_Compiler::ast call(const token &first, int depth);
        Jack_Compiler::ast expression_list(int depth);
        Jack_Compiler::ast variable(const token &name);
        void check_depth(int depth) const;

        const source &src_;
        lexer lexer_;
        token current_;
        symbol_table symbols_;
        std::string class_name_;
        int max_depth_;
    };
}

#endif
