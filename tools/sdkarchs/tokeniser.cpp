#include "tools/sdkarchs/tokeniser.h"
#include "tools/sdkarchs/tokeniser_input.h"

#include "iobuffer/iobuffer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

using namespace Lum_IO_Buffers;

namespace JSON_Parser
{
    namespace
    {
        static_assert(sizeof(Token) == 8, "a token handle holds a 32-bit index and a 32-bit tag");

        // The low half of every handle: a stray pointer or another kind of
        // handle is caught on its first use.
        const std::uint64_t token_tag = 0x4FD3534;

        // A tokeniser that makes this many tokens is almost certainly being
        // driven round a loop by a parser that does not consume its input.
        const std::size_t token_limit = 1000000;

        const int end_of_input = -1;

        // A sequence that grows a block at a time: nothing in it ever moves,
        // and it never passes through a buffer twice its size, so a million
        // tokens take the memory they hold. Blocks are left uninitialised
        // until written.
        template <typename T, std::size_t BlockSize>
        class block_store
        {
        public:
            std::size_t size() const
            {
                return size_;
            }

            void push_back(const T &value)
            {
                if (size_ % BlockSize == 0)
                    blocks_.emplace_back(new T[BlockSize]);
                blocks_.back()[size_ % BlockSize] = value;
                size_++;
            }

            void append(const T *values, std::size_t count)
            {
                while (count != 0)
                {
                    if (size_ % BlockSize == 0)
                        blocks_.emplace_back(new T[BlockSize]);
                    const std::size_t room = BlockSize - size_ % BlockSize;
                    const std::size_t n = count < room ? count : room;
                    std::copy(values, values + n, blocks_.back().get() + size_ % BlockSize);
                    values += n;
                    count -= n;
                    size_ += n;
                }
            }

            const T &operator[](std::size_t i) const
            {
                return blocks_[i / BlockSize][i % BlockSize];
            }

            // The count elements from start, as a string.
            std::basic_string<T> copy(std::size_t start, std::size_t count) const
            {
                std::basic_string<T> result;
                result.reserve(count);
                while (count != 0)
                {
                    const std::size_t offset = start % BlockSize;
                    const std::size_t n = count < BlockSize - offset ? count : BlockSize - offset;
                    const T *first = blocks_[start / BlockSize].get() + offset;
                    result.append(first, n);
                    start += n;
                    count -= n;
                }
                return result;
            }

        private:
            std::vector<std::unique_ptr<T[]>> blocks_;
            std::size_t size_ = 0;
        };

        // One token in 16 bytes: its kind, where it starts, and where its
        // spelling ends in the store of spellings. Only strings and numbers
        // have spellings of their own there, each starting where the previous
        // token's ends; the end of input has an empty one and every other
        // kind the fixed text of its kind. The integer value is 0 for every
        // token and is not stored.
        struct token_record
        {
            std::uint64_t kind_and_end;  // kind - tk_first in the top byte
            std::int32_t line;
            std::int32_t column;
        };
        const int kind_shift = 56;
        const std::uint64_t end_mask = (std::uint64_t(1) << kind_shift) - 1;

        // One of the last three lines read, which a token made now can still
        // need for its context.
        struct recent_line
        {
            int number = -1;  // -1: no line
            std::string text;
            bool kept = false;  // a token's context shows it
        };

        struct tokeniser_state
        {
            block_store<token_record, 65536> tokens;
            block_store<char, 1 << 20> spellings;
            std::string scanned;  // the spelling of the string or number being scanned

            // The printable text of each line a token's context can show, as
            // far as it has been read, tabs expanded. A token starts on the
            // line being read or the one before, and its context shows its
            // line and the one before that, so the last three lines read are
            // held as they grow (indexed by line number modulo 3, their
            // strings reused), and of the lines before them only those of
            // tokens are kept, their texts packed end to end. Input of
            // millions of empty or token-less lines costs no more than a few.
            recent_line recent[3];
            std::string *current_text = nullptr;  // of the line being read
            block_store<int, 65536> kept_numbers;  // ascending
            block_store<std::uint64_t, 65536> kept_starts;
            block_store<char, 1 << 20> kept_text;

            std::string kind_spellings[tk_last - tk_first + 1];
            std::unordered_map<std::string, TokenKind> fixed_texts;

            int ch = ' ';          // the current character, -1 once the scan has stopped
            int pushed_back = -1;  // -1 when there is none
            int line = 0;
            int column = 0;
            int start_line = 0;    // where the token being scanned starts
            int start_column = 0;
            bool reading = false;  // nextch has been called
            bool input_ended = false;
        };

        // Never freed: a fatal error can end the process from anywhere.
        tokeniser_state *state = nullptr;

        void record_mapping(TokenKind kind, const std::string &spelling, bool fixed_text)
        {
            state->kind_spellings[kind - tk_first] = spelling;
            if (fixed_text)
                state->fixed_texts[spelling] = kind;
        }

        void initialise()
        {
            if (state != nullptr)
                return;
            state = new tokeniser_state();
            record_mapping(tk_first, "tk_first", false);
            record_mapping(tk_lsb, "[", true);
            record_mapping(tk_rsb, "]", true);
            record_mapping(tk_comma, ",", true);
            record_mapping(tk_lcb, "{", true);
            record_mapping(tk_rcb, "}", true);
            record_mapping(tk_colon, ":", true);
            record_mapping(tk_string, "string", false);
            record_mapping(tk_number, "number", false);
            record_mapping(tk_true, "true", true);
            record_mapping(tk_false, "false", true);
            record_mapping(tk_null, "null", true);
            record_mapping(tk_eoi, "end of input", false);
            record_mapping(tk_value, "value", false);
            record_mapping(tk_elements, "elements", false);
            record_mapping(tk_members, "members", false);
            record_mapping(tk_oops, "oops", false);
            record_mapping(tk_last, "tk_last", false);
        }

        // Standard input goes through the C library's buffer: one system call
        // per block, not per byte, and an interactive reader still gets each
        // line as soon as it is typed. The end of input is sticky, so a
        // terminal is not asked again after its end-of-file. A failed read is
        // said as such; taken for the end of input it would pass for a
        // truncated document.
        int read_byte()
        {
            if (state->input_ended)
                return end_of_input;
            const int c = getc_unlocked(stdin);
            if (c == EOF)
            {
                if (std::ferror(stdin))
                    fatal_error(1, "could not read standard input");
                state->input_ended = true;
                return end_of_input;
            }
            return c;
        }

        int take_pushed_back_or_read()
        {
            tokeniser_state &s = *state;
            if (s.pushed_back == -1)
                return read_byte();
            const int c = s.pushed_back;
            s.pushed_back = -1;
            return c;
        }

        // What a character read into s.ch becomes: a tab reaches the scanner
        // as blanks up to the next multiple of 8 columns, and a carriage
        // return, alone or before a line feed, as one line feed.
        void take_read_character(tokeniser_state &s)
        {
            if (s.ch == '\t')
            {
                s.column++;
                if (s.column % 8 != 0)
                    s.pushed_back = '\t';
                s.ch = ' ';
                *s.current_text += ' ';
            }
            else if (s.ch == '\r')
            {
                const int following = take_pushed_back_or_read();
                if (following != '\n')
                    s.pushed_back = following;
                s.ch = '\n';
            }
            else if (s.ch >= 32 && s.ch <= 126)
            {
                s.column++;
                *s.current_text += static_cast<char>(s.ch);
            }
        }

        // Most of a settings file is indentation and the characters of
        // strings, which nextch takes one call a byte. Where nextch would
        // take the next bytes with nothing to do but count them and keep
        // them in the line's text (printable, no tab or line end, nothing
        // pushed back), the run of them the stream's buffer holds is taken at
        // once: the same bytes consumed, counted and kept. With glibc the
        // buffer is read in place; elsewhere, and when a test asks for it,
        // every byte goes through nextch.
#if defined(__GLIBC__)
        const bool stream_runs_available = true;
#else
        const bool stream_runs_available = false;
#endif
        bool bytewise_stdin = !stream_runs_available;

        struct run
        {
            const char *start;  // in the stream's buffer, valid until the next read
            std::size_t length;
        };

        // Takes the bytes behind state->ch for which in_run holds (each one
        // printable), leaving state->ch as it is; the caller's next nextch
        // reads the byte after them.
        template <typename InRun>
        run take_run(InRun in_run)
        {
            tokeniser_state &s = *state;
#if defined(__GLIBC__)
            if (!bytewise_stdin && s.reading && s.pushed_back == -1 && !s.input_ended && s.ch != '\n' &&
                s.ch != end_of_input)
            {
                char *const start = stdin->_IO_read_ptr;
                char *p = start;
                while (p < stdin->_IO_read_end && in_run(static_cast<unsigned char>(*p)))
                    p++;
                const std::size_t length = static_cast<std::size_t>(p - start);
                s.current_text->append(start, length);
                s.column += static_cast<int>(length);
                stdin->_IO_read_ptr = p;
                return {start, length};
            }
#else
            (void)in_run;
            (void)s;
#endif
            return {nullptr, 0};
        }

        bool is_blank(unsigned char c)
        {
            return c == ' ';
        }

        // A character that stands for itself in a string.
        bool is_plain_string_byte(unsigned char c)
        {
            return c >= 32 && c <= 126 && c != '"' && c != '\\';
        }

        // Reads one character into state->ch, keeping the line store, the
        // line number and the column up to date.
        void nextch()
        {
            tokeniser_state &s = *state;
            // Inside a line, with nothing pushed back, the next byte comes
            // straight from the stream, and a printable one needs nothing
            // more: the path of nearly every byte.
            if (s.reading && s.ch != '\n' && s.ch != end_of_input && s.pushed_back == -1 && !s.input_ended)
            {
                const int c = getc_unlocked(stdin);
                if (c >= 32 && c <= 126)
                {
                    s.ch = c;
                    s.column++;
                    s.current_text->push_back(static_cast<char>(c));
                    return;
                }
                if (c == EOF)
                {
                    if (std::ferror(stdin))
                        fatal_error(1, "could not read standard input");
                    s.input_ended = true;
                    s.ch = end_of_input;
                    return;
                }
                s.ch = c;
                take_read_character(s);
                return;
            }
            if (!s.reading)
            {
                s.reading = true;
                s.line = 1;
                s.recent[0].number = 0;
                s.recent[0].kept = true;
                s.recent[1].number = 1;
                s.recent[1].kept = true;  // shown for a token made before any input
                s.current_text = &s.recent[1].text;
            }
            if (s.ch == end_of_input)
                return;
            if (s.ch == '\n')
            {
                s.line++;
                s.column = 0;
                // No later token can keep the line three lines back: it is
                // stored for good if a token's context shows it, else dropped.
                recent_line &slot = s.recent[s.line % 3];
                if (slot.number == s.line - 3 && slot.kept)
                {
                    s.kept_numbers.push_back(slot.number);
                    s.kept_starts.push_back(s.kept_text.size());
                    s.kept_text.append(slot.text.data(), slot.text.size());
                }
                slot.number = s.line;
                slot.text.clear();
                slot.kept = false;
                s.current_text = &slot.text;
            }

            s.ch = take_pushed_back_or_read();
            take_read_character(s);
        }

        Token make_handle(std::size_t index)
        {
            const std::uint64_t bits = (static_cast<std::uint64_t>(index) << 32) | token_tag;
            return reinterpret_cast<Token>(static_cast<std::uintptr_t>(bits));
        }

        // Strings and numbers take their spelling from state->scanned; every
        // other kind has its own.
        Token new_token(TokenKind kind)
        {
            tokeniser_state &s = *state;
            if (s.tokens.size() > token_limit)
                fatal_error(-1, "attempted to create more than 1,000,000 tokens, the program is probably stuck in a loop");
            if (kind == tk_string || kind == tk_number)
                s.spellings.append(s.scanned.data(), s.scanned.size());
            const std::uint64_t kind_bits = static_cast<std::uint64_t>(kind - tk_first) << kind_shift;
            s.tokens.push_back(token_record{kind_bits | s.spellings.size(), s.start_line, s.start_column});
            // Keep the lines this token's context shows; they are among the
            // last three.
            for (int n = s.start_line - 1; n <= s.start_line; n++)
                if (n >= 0 && s.recent[n % 3].number == n)
                    s.recent[n % 3].kept = true;
            return make_handle(s.tokens.size() - 1);
        }

        // The index of token t; anything but a handle of an existing token
        // ends the program.
        std::size_t checked(Token t)
        {
            initialise();
            const std::uint64_t bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(t));
            const std::int64_t index = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
            if (t == nullptr || index < 0 || (bits & 0xFFFFFFFFu) != token_tag ||
                static_cast<std::uint64_t>(index) >= state->tokens.size())
                fatal_error(-1, "attempt to access non-existant token");
            return static_cast<std::size_t>(index);
        }

        TokenKind kind_at(std::size_t index)
        {
            return static_cast<TokenKind>(tk_first + static_cast<int>(state->tokens[index].kind_and_end >> kind_shift));
        }

        std::string spelling_at(std::size_t index)
        {
            const tokeniser_state &s = *state;
            const TokenKind kind = kind_at(index);
            if (kind == tk_eoi)
                return "";
            if (kind != tk_string && kind != tk_number)
                return s.kind_spellings[kind - tk_first];
            const std::uint64_t end = s.tokens[index].kind_and_end & end_mask;
            const std::uint64_t start = index == 0 ? 0 : s.tokens[index - 1].kind_and_end & end_mask;
            return s.spellings.copy(start, end - start);
        }

        // The stored text of line n, or the empty string.
        std::string line_text(int n)
        {
            const tokeniser_state &s = *state;
            if (n >= 0 && s.recent[n % 3].number == n)
                return s.recent[n % 3].text;
            std::size_t low = 0, high = s.kept_numbers.size();
            while (low < high)
            {
                const std::size_t middle = low + (high - low) / 2;
                if (s.kept_numbers[middle] < n)
                    low = middle + 1;
                else
                    high = middle;
            }
            if (low == s.kept_numbers.size() || s.kept_numbers[low] != n)
                return std::string();
            const std::size_t end = low + 1 < s.kept_starts.size() ? s.kept_starts[low + 1] : s.kept_text.size();
            return s.kept_text.copy(s.kept_starts[low], end - s.kept_starts[low]);
        }

        bool matches(TokenKind kind, TokenKind wanted)
        {
            if (kind == wanted)
                return true;
            switch (wanted)
            {
            case tk_value:
            case tk_elements:
                return kind == tk_lsb || kind == tk_lcb || kind == tk_string || kind == tk_number ||
                       kind == tk_true || kind == tk_false || kind == tk_null;
            case tk_members:
                return kind == tk_string;
            default:
                return false;
            }
        }

        bool is_digit(int c)
        {
            return c >= '0' && c <= '9';
        }

        bool is_hex_digit(int c)
        {
            return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        }

        void append_utf8(std::string &text, std::uint32_t code_point)
        {
            if (code_point < 0x80)
                text += static_cast<char>(code_point);
            else if (code_point < 0x800)
            {
                text += static_cast<char>(0xC0 | (code_point >> 6));
                text += static_cast<char>(0x80 | (code_point & 0x3F));
            }
            else if (code_point < 0x10000)
            {
                text += static_cast<char>(0xE0 | (code_point >> 12));
                text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
                text += static_cast<char>(0x80 | (code_point & 0x3F));
            }
            else
            {
                text += static_cast<char>(0xF0 | (code_point >> 18));
                text += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
                text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
                text += static_cast<char>(0x80 | (code_point & 0x3F));
            }
        }

        const std::uint32_t replacement_character = 0xFFFD;

        bool is_high_surrogate(std::uint32_t unit)
        {
            return unit >= 0xD800 && unit <= 0xDBFF;
        }

        bool is_low_surrogate(std::uint32_t unit)
        {
            return unit >= 0xDC00 && unit <= 0xDFFF;
        }

        // Four hexadecimal digits, consumed; false if one is missing.
        bool scan_hex4(std::uint32_t &unit)
        {
            unit = 0;
            for (int i = 0; i < 4; i++)
            {
                if (!is_hex_digit(state->ch))
                    return false;
                unit = unit * 16 + static_cast<std::uint32_t>(tohex(state->ch));
                nextch();
            }
            return true;
        }

        // The current character follows a backslash. Appends the decoded
        // escape and consumes it; false on a lexical error. A high surrogate
        // is joined with a low-surrogate escape right behind it into one code
        // point; a surrogate without its partner becomes U+FFFD, so the
        // result is always valid UTF-8 for the escapes.
        bool scan_escape(std::string &text)
        {
            tokeniser_state &s = *state;
            bool pending_high = false;
            std::uint32_t high = 0;
            for (;;)
            {
                if (s.ch != 'u')
                {
                    if (pending_high)
                        append_utf8(text, replacement_character);
                    switch (s.ch)
                    {
                    case '"': text += '"'; break;
                    case '/': text += '/'; break;
                    case '\\': text += '\\'; break;
                    case 'b': text += '\b'; break;
                    case 'f': text += '\f'; break;
                    case 'n': text += '\n'; break;
                    case 'r': text += '\r'; break;
                    case 't': text += '\t'; break;
                    default: return false;
                    }
                    nextch();
                    return true;
                }

                nextch();
                std::uint32_t unit;
                if (!scan_hex4(unit))
                    return false;
                if (pending_high)
                {
                    if (is_low_surrogate(unit))
                    {
                        append_utf8(text, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
                        return true;
                    }
                    append_utf8(text, replacement_character);
                    pending_high = false;
                }
                if (!is_high_surrogate(unit))
                {
                    append_utf8(text, is_low_surrogate(unit) ? replacement_character : unit);
                    return true;
                }
                if (s.ch != '\\')
                {
                    append_utf8(text, replacement_character);
                    return true;
                }
                // Whatever escape follows is taken here, paired or not.
                pending_high = true;
                high = unit;
                nextch();
            }
        }

        Token scan_string()
        {
            tokeniser_state &s = *state;
            std::string &text = s.scanned;
            text.clear();
            nextch();
            for (;;)
            {
                const int c = s.ch;
                if (c == '"')
                {
                    nextch();
                    return new_token(tk_string);
                }
                if (c < 32)
                {
                    // Control characters, a raw line end and the end of input
                    // cannot stand in a string.
                    std::fprintf(stderr, "bad string char %d\n", c);
                    std::fflush(stderr);
                    return parse_eoi();
                }
                if (c == '\\')
                {
                    nextch();
                    if (!scan_escape(text))
                        return parse_eoi();
                    continue;
                }
                text += static_cast<char>(c);
                const run more = take_run(is_plain_string_byte);
                if (more.length != 0)
                    text.append(more.start, more.length);
                nextch();
            }
        }

        // Appends a run of digits; false if there is not at least one.
        bool scan_digits(std::string &text)
        {
            if (!is_digit(state->ch))
                return false;
            while (is_digit(state->ch))
            {
                text += static_cast<char>(state->ch);
                nextch();
            }
            return true;
        }

        Token scan_number()
        {
            tokeniser_state &s = *state;
            std::string &text = s.scanned;
            text.clear();
            if (s.ch == '-')
            {
                text += '-';
                nextch();
            }
            if (s.ch == '0')
            {
                text += '0';
                nextch();
            }
            else if (!scan_digits(text))
                return parse_eoi();

            if (s.ch == '.')
            {
                text += '.';
                nextch();
                if (!scan_digits(text))
                    return parse_eoi();
            }
            if (s.ch == 'e' || s.ch == 'E')
            {
                text += static_cast<char>(s.ch);
                nextch();
                if (s.ch == '+' || s.ch == '-')
                {
                    text += static_cast<char>(s.ch);
                    nextch();
                }
                if (!scan_digits(text))
                    return parse_eoi();
            }
            return new_token(tk_number);
        }

        // The character after the word is read but not tested.
        Token scan_word(const char *word, TokenKind kind)
        {
            for (const char *p = word; *p != '\0'; p++)
            {
                if (state->ch != *p)
                    return parse_eoi();
                nextch();
            }
            return new_token(kind);
        }

        Token scan_symbol(TokenKind kind)
        {
            nextch();
            return new_token(kind);
        }
    }

    void json_read_stdin_bytewise(bool bytewise)
    {
        bytewise_stdin = bytewise || !stream_runs_available;
    }

    Token next_token()
    {
        initialise();
        tokeniser_state &s = *state;
        for (;;)
        {
            if (s.ch == end_of_input)
                return new_token(tk_eoi);
            s.start_line = s.line;
            s.start_column = s.column;
            switch (s.ch)
            {
            case ' ':
                // Where the blanks end the input, the end of input is placed
                // at the last of them, as the loop taking them one at a time
                // would leave it.
                if (take_run(is_blank).length != 0)
                    s.start_column = s.column;
                nextch();
                continue;
            case '\n':
                nextch();
                continue;
            case '[': return scan_symbol(tk_lsb);
            case ']': return scan_symbol(tk_rsb);
            case ',': return scan_symbol(tk_comma);
            case '{': return scan_symbol(tk_lcb);
            case '}': return scan_symbol(tk_rcb);
            case ':': return scan_symbol(tk_colon);
            case '"': return scan_string();
            case 't': return scan_word("true", tk_true);
            case 'f': return scan_word("false", tk_false);
            case 'n': return scan_word("null", tk_null);
            default:
                if (s.ch == '-' || is_digit(s.ch))
                    return scan_number();
                return parse_eoi();
            }
        }
    }

    Token current_token()
    {
        initialise();
        if (state->tokens.size() == 0)
            fatal_error(-1, "attempt to access non-existent token");
        return make_handle(state->tokens.size() - 1);
    }

    TokenKind token_kind(Token t)
    {
        return kind_at(checked(t));
    }

    TokenKind token_kind()
    {
        return token_kind(current_token());
    }

    std::string token_spelling(Token t)
    {
        return spelling_at(checked(t));
    }

    std::string token_spelling()
    {
        return token_spelling(current_token());
    }

    int token_ivalue(Token t)
    {
        checked(t);
        return 0;
    }

    int token_ivalue()
    {
        return token_ivalue(current_token());
    }

    int token_line(Token t)
    {
        const std::size_t index = checked(t);  // first: it sets up the state
        return state->tokens[index].line;
    }

    int token_line()
    {
        return token_line(current_token());
    }

    int token_column(Token t)
    {
        const std::size_t index = checked(t);
        return state->tokens[index].column;
    }

    int token_column()
    {
        return token_column(current_token());
    }

    std::string token_context(Token t)
    {
        const std::size_t index = checked(t);
        const token_record &token = state->tokens[index];
        // An end of input made before anything was read (or before the line
        // store exists) still shows line 1, empty.

        const int line = token.line == 0 ? 1 : token.line;
        const std::string prefix = " " + std::to_string(line) + ": ";
        std::string context;
        if (line >= 2)
            context += " " + std::to_string(line - 1) + ": " + line_text(line - 1) + "\n";
        context += prefix + line_text(line) + "\n";
        const std::size_t blanks = token.line == 0 ? prefix.size() - 1
                                                   : prefix.size() + static_cast<std::size_t>(token.column) - 1;
        context.append(blanks, ' ');
        context += "^\n";
        return context;
    }

    std::string token_context()
    {
        return token_context(current_token());
    }

    std::string token_to_string(Token t)
    {
        const std::size_t index = checked(t);
        const token_record &token = state->tokens[index];
        return "{kind: " + token_kind_to_string(kind_at(index)) + ", spelling: \"" + spelling_at(index) +
               "\", line: " + std::to_string(token.line) + ", column: " + std::to_string(token.column) + "}";
    }

    std::string token_kind_to_string(TokenKind kind)
    {
        initialise();
        if (kind < tk_first || kind > tk_last)
            return "";
        return state->kind_spellings[kind - tk_first];
    }

    TokenKind string_to_token_kind(std::string text)
    {
        initialise();
        const auto found = state->fixed_texts.find(text);
        return found == state->fixed_texts.end() ? tk_oops : found->second;
    }

    bool have(Token t, TokenKind kind)
    {
        return matches(kind_at(checked(t)), kind);
    }

    bool have(TokenKind kind)
    {
        return have(current_token(), kind);
    }

    bool have_next(Token t, TokenKind kind)
    {
        if (!have(t, kind))
            return false;
        next_token();
        return true;
    }

    bool have_next(TokenKind kind)
    {
        return have_next(current_token(), kind);
    }

    Token mustbe(Token t, TokenKind kind)
    {
        const std::size_t index = checked(t);
        if (!matches(kind_at(index), kind))
            fatal_error(1, "\n" + token_context(t) + "Found token \"" + spelling_at(index) + "\" but expected \"" +
                               token_kind_to_string(kind) + "\"\n");
        next_token();
        return t;
    }

    Token mustbe(TokenKind kind)
    {
        return mustbe(current_token(), kind);
    }

    void did_not_find(Token t, TokenKind kind)
    {
        const std::size_t index = checked(t);
        const char *lead = matches(kind_at(index), kind) ? "Logic error: reported not finding token \""
                                                         : "Did not find token \"";
        fatal_error(1, "\n" + token_context(t) + lead + token_kind_to_string(kind) + "\" but found \"" +
                           spelling_at(index) + "\"\n");
    }

    void did_not_find(TokenKind kind)
    {
        did_not_find(current_token(), kind);
    }

    void fatal_token_context(std::string message)
    {
        fatal_error(1, "***** Error:\n" + token_context() + message);
    }

    Token parse_eoi()
    {
        initialise();
        state->ch = end_of_input;
        return new_token(tk_eoi);
    }

    int tohex(int c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return 0;
    }

#ifdef JACK_FUZZING
    void reset_tokeniser()
    {
        delete state;
        state = nullptr;
    }
#endif
}
