#include "frontend/lexer.h"

#include <cstring>

namespace Jack_Source
{
    namespace
    {
        bool is_space(int c)
        {
            return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
        }

        bool is_letter(int c)
        {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        }

        bool is_digit(int c)
        {
            return c >= '0' && c <= '9';
        }

        // A documentation comment's text: carriage-return line ends become line
        // feeds, and whitespace at both ends goes.
        std::string doc_text(const std::string &raw)
        {
            std::string text;
            for (size_t i = 0; i < raw.size(); i++)
            {
                if (raw[i] != '\r')
                    text += raw[i];
                else if (i + 1 >= raw.size() || raw[i + 1] != '\n')
                    text += '\n';
            }
            size_t first = 0;
            while (first < text.size() && is_space(static_cast<unsigned char>(text[first])))
                first++;
            size_t last = text.size();
            while (last > first && is_space(static_cast<unsigned char>(text[last - 1])))
                last--;
            return text.substr(first, last - first);
        }

        std::string visible_byte(int c)
        {
            if (c >= 32 && c < 127)
                return std::string("the character \"") + static_cast<char>(c) + "\"";
            return "the byte " + std::to_string(c);
        }
    }

    bool is_keyword(const std::string &word)
    {
        static const char *const keywords[] = {"class", "constructor", "function", "method", "field", "static",
                                               "var", "int", "char", "boolean", "void", "true", "false", "null",
                                               "this", "let", "do", "if", "else", "while", "return"};
        for (const char *k : keywords)
            if (word == k)
                return true;
        return false;
    }

    std::string describe(const token &t)
    {
        switch (t.kind)
        {
        case token_kind::end: return "end of input";
        case token_kind::keyword: return "the keyword \"" + t.text + "\"";
        case token_kind::string: return "the string \"" + t.text + "\"";
        case token_kind::invalid: return "an invalid token";
        default: return "\"" + t.text + "\"";
        }
    }

    int lexer::peek(size_t ahead) const
    {
        const size_t at = here_.offset + ahead;
        return at < text_.size() ? static_cast<unsigned char>(text_[at]) : -1;
    }

    void lexer::advance()
    {
        const int c = peek();
        here_.offset++;
        // A line feed, a carriage return alone, and the pair both end a line.
        if (c == '\n' || (c == '\r' && peek() != '\n'))
        {
            here_.line++;
            here_.column = 1;
        }
        else if (c != '\r')
            here_.column++;
    }

    void lexer::read_comment(std::string &doc)
    {
        const position start = here_;
        if (peek(1) == '/')
        {
            while (peek() != -1 && peek() != '\n' && peek() != '\r')
                advance();
            doc.clear();  // another comment between cancels a documentation comment
            return;
        }
        const bool is_doc = peek(2) == '*' && peek(3) != '/';
        advance();
        advance();
        const size_t body = here_.offset;
        while (!(peek() == '*' && peek(1) == '/'))
        {
            if (peek() == -1)
            {
                report(diagnostic_id::unclosed_comment, start);
                comment_took_the_rest_ = true;
                doc.clear();
                return;
            }
            advance();
        }
        const size_t body_end = here_.offset;
        advance();
        advance();
        doc = is_doc ? doc_text(text_.substr(body + 1, body_end - body - 1)) : std::string();
    }

    void lexer::skip_space_and_comments(std::string &doc)
    {
        for (;;)
        {
            const int c = peek();
            if (is_space(c))
                advance();
            else if (c == '/' && (peek(1) == '/' || peek(1) == '*'))
                read_comment(doc);
            else
                return;
        }
    }

    void lexer::read_string(token &t)
    {
        advance();  // the opening quote
        const size_t start = here_.offset;
        while (peek() != '"')
        {
            const int c = peek();
            if (c == -1 || c == '\n' || c == '\r')
            {
                report(diagnostic_id::unclosed_string, t.where, {c == -1 ? "end of input" : "the end of the line"});
                t.kind = token_kind::invalid;
                t.text = text_.substr(start, here_.offset - start);
                return;
            }
            advance();
        }
        t.text = text_.substr(start, here_.offset - start);
        // The tree form cannot carry an empty text value, so an empty string
        // constant would make a tree no program of the tool-chain can read.
        if (t.text.empty())
        {
            report(diagnostic_id::empty_string, t.where);
            t.text = "?";
        }
        advance();  // the closing quote
    }

    void lexer::read_integer(token &t)
    {
        const size_t start = here_.offset;
        long value = 0;
        while (is_digit(peek()))
        {
            if (value <= 32767)
                value = value * 10 + (peek() - '0');
            advance();
        }
        t.text = text_.substr(start, here_.offset - start);
        if (value > 32767)
        {
            report(diagnostic_id::integer_too_large, t.where, {t.text});
            value = 0;
        }
        t.value = static_cast<int>(value);
    }

    void lexer::report(diagnostic_id id, const position &where, std::initializer_list<std::string> arguments)
    {
        errors_++;
        diags_.report(id, src_, where, arguments);
    }

    token lexer::next()
    {
        token t;
        skip_space_and_comments(t.doc);
        t.where = here_;
        const int c = peek();
        if (c == -1)
            return t;
        if (c == '"')
        {
            t.kind = token_kind::string;
            read_string(t);
        }
        else if (is_digit(c))
        {
            t.kind = token_kind::integer;
            read_integer(t);
        }
        else if (is_letter(c))
        {
            const size_t start = here_.offset;
            while (is_letter(peek()) || is_digit(peek()))
                advance();
            t.text = text_.substr(start, here_.offset - start);
            t.kind = is_keyword(t.text) ? token_kind::keyword : token_kind::identifier;
        }
        else if (c > 0 && c < 128 && std::strchr("{}()[].,;+-*/&|<>=~", c) != nullptr)
        {
            t.kind = token_kind::symbol;
            t.text = std::string(1, static_cast<char>(c));
            advance();
        }
        else
        {
            // A run of such bytes is one mistake, reported at its first.
            report(diagnostic_id::unexpected_byte, t.where, {visible_byte(c)});
            t.kind = token_kind::invalid;
            const size_t start = here_.offset;
            do
                advance();
            while (peek() != -1 && !is_space(peek()) && !is_letter(peek()) && !is_digit(peek()) && peek() != '"' &&
                   !(peek() > 0 && peek() < 128 && std::strchr("{}()[].,;+-*/&|<>=~", peek()) != nullptr));
            t.text = text_.substr(start, here_.offset - start);
        }
        t.length = static_cast<int>(here_.offset - t.where.offset);
        return t;
    }
}
