// The tokens of a Jack class, read from a source text held in memory.
#ifndef FRONTEND_LEXER_H
#define FRONTEND_LEXER_H

#include "frontend/diagnostics.h"
#include "frontend/source.h"

#include <string>

namespace Jack_Source
{
    enum class token_kind
    {
        keyword,     // class constructor function method field static var int char boolean void
                     // true false null this let do if else while return
        symbol,      // { } ( ) [ ] . , ; + - * / & | < > = ~
        integer,     // 0 to 32767, leading zeros allowed
        string,      // the bytes between the quotes, never empty
        identifier,  // a letter or "_", then letters, digits and "_"
        invalid,     // a byte that starts no token, reported already
        end          // end of the text
    };

    struct token
    {
        token_kind kind = token_kind::end;
        std::string text;  // as written; a string's contents without quotes
        int value = 0;     // an integer's value
        position where;
        int length = 0;    // in bytes, all on the line of where
        // The text of a documentation comment that stands right before this
        // token with nothing but whitespace between; empty when there is none.
        std::string doc;
    };

    // How a token is named in an error report: `"let"`, `the keyword "class"`,
    // `end of input`.
    std::string describe(const token &t);

    class lexer
    {
    public:
        lexer(const source &src, diagnostics &diags) : src_(src), text_(src.text()), diags_(diags) {}

        // Reads and returns the next token. A lexical error is reported and
        // reading goes on: past a byte that starts no token (an invalid
        // token), at the end of the line of an unclosed string, at the end
        // of the text after an unclosed comment.
        token next();

        int errors() const { return errors_; }
        // Whether an unclosed comment took the rest of the text: what the
        // grammar misses at its end then follows from that one error.
        bool comment_took_the_rest() const { return comment_took_the_rest_; }

    private:
        void report(diagnostic_id id, const position &where, std::initializer_list<std::string> arguments = {});

        int peek(size_t ahead = 0) const;
        void advance();  // one byte, keeping line and column
        void skip_space_and_comments(std::string &doc);
        void read_comment(std::string &doc);
        void read_string(token &t);
        void read_integer(token &t);

        const source &src_;
        const std::string &text_;
        diagnostics &diags_;
        position here_;
        int errors_ = 0;
        bool comment_took_the_rest_ = false;
    };

    bool is_keyword(const std::string &word);
}

#endif
