// A tokeniser for JSON text on standard input, with the few
// recursive-descent operations that a parser needs on top of it.
//
// Tokens are kept for the life of the process, each with its kind, its
// spelling (the decoded contents of a string, the text of anything else) and
// the line and column where it starts. The text of every line read is kept
// too, so that an error can show the offending line with a caret under the
// token. Malformed input never stops the tokeniser itself: it ends the token
// stream with end-of-input tokens, and the parser's next mustbe reports it.
//
// Strings are UTF-8: a \u escape gives the UTF-8 bytes of its code point (a
// surrogate pair gives one four-byte sequence, a lone surrogate U+FFFD) and
// bytes from 127 up are kept as they are.
#ifndef TOOLS_SDKARCHS_TOKENISER_H
#define TOOLS_SDKARCHS_TOKENISER_H

#include <string>

namespace JSON_Parser
{
    // The values are fixed; every kind has a spelling used in messages.
    enum TokenKind : int
    {
        tk_first = 4000,    // lower bound, never produced
        tk_lsb = 4001,      // [
        tk_rsb = 4002,      // ]
        tk_comma = 4003,    // ,
        tk_lcb = 4004,      // {
        tk_rcb = 4005,      // }
        tk_colon = 4006,    // :
        tk_string = 4007,   // spelling: the decoded contents
        tk_number = 4008,   // spelling: the text as written
        tk_true = 4009,
        tk_false = 4010,
        tk_null = 4011,
        tk_eoi = 4012,      // end of input, also after any lexical error
        tk_value = 4013,    // matches any token that can start a value
        tk_elements = 4014, // the same set as tk_value
        tk_members = 4015,  // matches a string
        tk_oops = 4016,     // the kind of a text that names no token
        tk_last = 4017      // upper bound, never produced
    };

    // A validated handle of one token; never dereferenced.
    typedef struct _Token *Token;

    // Scans the next token from standard input; it becomes the current token.
    // Call it once before parsing, to read the first token.
    Token next_token();
    Token current_token();

    // The fields of a token; without an argument, of the current token.
    TokenKind token_kind(Token t);
    TokenKind token_kind();
    std::string token_spelling(Token t);
    std::string token_spelling();
    int token_ivalue(Token t);
    int token_ivalue();
    int token_line(Token t);
    int token_column(Token t);
    int token_line();
    int token_column();

    // The token's line (and the one before it) with a caret under the
    // token's first character, each line ending in a line feed.
    std::string token_context(Token t);
    std::string token_context();

    // {kind: K, spelling: "S", line: L, column: C}
    std::string token_to_string(Token t);
    // The kind's spelling; empty for a value that is not a kind.
    std::string token_kind_to_string(TokenKind kind);
    // The kind of one of the nine fixed texts, tk_oops for any other text.
    TokenKind string_to_token_kind(std::string text);

    // Whether the token matches kind (the pseudo-kinds match every kind that
    // can start what they stand for).
    bool have(Token t, TokenKind kind);
    bool have(TokenKind kind);
    // The same, and on a match the next token is read.
    bool have_next(Token t, TokenKind kind);
    bool have_next(TokenKind kind);
    // On a match reads the next token and returns the one that matched;
    // otherwise a fatal error naming what was found and what was expected.
    Token mustbe(Token t, TokenKind kind);
    Token mustbe(TokenKind kind);
    [[noreturn]] void did_not_find(Token t, TokenKind kind);
    [[noreturn]] void did_not_find(TokenKind kind);
    // A fatal error showing the current token's context, then message.
    [[noreturn]] void fatal_token_context(std::string message);

    // Stops the scan and appends an end-of-input token.
    Token parse_eoi();

    // The value of a hexadecimal digit, 0 for any other character.
    int tohex(int c);

#ifdef JACK_FUZZING
    // Fuzzing builds only: forgets every token, line and the reader state,
    // so that the next input is read as a new process would read it.
    void reset_tokeniser();
#endif
}

#endif
