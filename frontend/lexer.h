// The tokens of a Jack class, read from a source text held in memory.
#ifndef TOOLS_JACK2XML_LEXER_H
#define TOOLS_JACK2XML_LEXER_H

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
        end          // end of the text
    };

    struct token
    {
        token_kind kind = token_kind::end;
        std::string text;  // as written; a string's contents without quotes
        int value = 0;     // an integer's value
        position where;
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
        explicit lexer(const source &src) : src_(src), text_(src.text()) {}

        // Reads and returns the next token; lexical errors end the program.
        token next();

    private:
        int peek(size_t ahead = 0) const;
        void advance();  // one byte, keeping line and column
        void skip_space_and_comments(std::string &doc);
        void read_comment(std::string &doc);
        void read_string(token &t);
        void read_integer(token &t);

        const source &src_;
        const std::string &text_;
        position here_;
    };

    bool is_keyword(const std::string &word);
}

#endif
