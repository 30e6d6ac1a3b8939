// Reads one class tree in the XML tree form from standard input.
//
// A recursive-descent reader over a small tokeniser with one token and one
// byte of look-ahead. It accepts exactly the element structure the writer
// produces, is lenient about whitespace between elements, and ends the
// program at the first error with a message saying what it expected.
#include "ast/nesting_limit.h"
#include "ast/nodes.h"
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using Lum_IO_Buffers::fatal_error;
using Lum_IO_Buffers::pop_error_context;
using Lum_IO_Buffers::push_error_context;

namespace Jack_Compiler
{
    namespace
    {
        // ---- Tokeniser ------------------------------------------------------

        enum xml_token_kind
        {
            xml_opentag,   // text: the tag name
            xml_closetag,  // text: the tag name
            xml_text,      // text: the character data, entities decoded
            xml_eoi        // end of input; text empty
        };

        struct xml_token
        {
            xml_token_kind kind = xml_eoi;
            std::string text;
            bool whitespace = false;  // character data made only of whitespace
            // Whitespace and tag names are often left where they stand in
            // the window and copied into text only when asked for
            // (token_text); a name is compared where it stands.
            const unsigned char *lazy_begin = nullptr;
            std::size_t lazy_size = 0;
        };

        // The reader's state lives as long as the process: a second call of
        // ast_parse_xml goes on from where the first one stopped.
        xml_token xmltoken;
        int ch = EOF;
        bool initialised_xml_parser = false;
        std::string entity;  // reused for the name of every entity

        // ---- Where the bytes come from --------------------------------------
        //
        // The reader consumes standard input byte by byte and never beyond
        // the look-ahead byte, so a program that reads on after the tree
        // finds the rest. The bytes the C library's stream holds ready are
        // seen as a window [window_next, window_end): runs of them are
        // scanned in place, and consuming a byte moves window_next. With
        // glibc the window is the stream's own buffer, given back at the end
        // of every read; elsewhere (and when a test asks for it) the window
        // stays empty and each byte comes from getc_unlocked.
#if defined(__GLIBC__)
        const bool stream_window_available = true;
#else
        const bool stream_window_available = false;
#endif
        bool bytewise_stdin = !stream_window_available;
        bool window_is_stdin = false;
        bool reading_memory = false;  // the window is a text held in memory (ast_parse_xml(text))
        const unsigned char *window_base = nullptr;  // the first byte that may be looked back at
        const unsigned char *window_next = nullptr;
        const unsigned char *window_end = nullptr;

#if defined(__GLIBC__)
        // The stream would fill its buffer a block (4 KiB) at a time: a
        // system call for every few hundred elements. A stream nobody has
        // read from yet is given a larger buffer; what it hands out, and
        // what it leaves for whoever reads on, is the same.
        char stdin_buffer[65536];

        void enlarge_stdin_buffer()
        {
            if (stdin->_IO_buf_base == nullptr)
                std::setvbuf(stdin, stdin_buffer, _IOFBF, sizeof stdin_buffer);
        }
#endif

        void take_stdin_window()
        {
            if (reading_memory)
                return;
#if defined(__GLIBC__)
            if (!bytewise_stdin)
            {
                enlarge_stdin_buffer();
                window_next = reinterpret_cast<const unsigned char *>(stdin->_IO_read_ptr);
                window_end = reinterpret_cast<const unsigned char *>(stdin->_IO_read_end);
                window_base = window_next;
                window_is_stdin = true;
                return;
            }
#endif
            window_base = window_next = window_end = nullptr;
            window_is_stdin = false;
        }

        void give_back_stdin_window()
        {
            if (reading_memory)
                return;
#if defined(__GLIBC__)
            if (window_is_stdin)
                stdin->_IO_read_ptr = reinterpret_cast<char *>(const_cast<unsigned char *>(window_next));
#endif
            window_is_stdin = false;
            window_base = window_next = window_end = nullptr;
        }

        // The window is used up: the next byte comes from the stream, which
        // fills its buffer again, and the window becomes what it then holds.
        [[gnu::noinline]] int refill()
        {
            if (reading_memory)
                return EOF;
#if defined(__GLIBC__)
            if (window_is_stdin)
            {
                stdin->_IO_read_ptr = reinterpret_cast<char *>(const_cast<unsigned char *>(window_end));
                const int c = getc_unlocked(stdin);
                window_next = reinterpret_cast<const unsigned char *>(stdin->_IO_read_ptr);
                window_end = reinterpret_cast<const unsigned char *>(stdin->_IO_read_end);
                window_base = c == EOF ? window_next : window_next - 1;  // c stands just before
                return c;
            }
#endif
            return getc_unlocked(stdin);
        }

        inline int read_byte()
        {
            if (window_next != window_end)
                return *window_next++;
            return refill();
        }

        // Bytes that may follow the first one of a tag name.
        struct name_bytes
        {
            bool in_name[256];
        };

        constexpr name_bytes make_name_bytes()
        {
            name_bytes t{};
            for (int c = 0; c < 256; c++)
                t.in_name[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                               c == '.' || c == '_';
            return t;
        }

        constexpr name_bytes tag_name_bytes = make_name_bytes();

        // The end of the run of name bytes from p on: the first other byte,
        // or end.
        const unsigned char *skip_name_bytes(const unsigned char *p, const unsigned char *end)
        {
            while (p != end && tag_name_bytes.in_name[*p])
                p++;
            return p;
        }

        bool is_letter(int c)
        {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        }

        bool is_digit(int c)
        {
            return c >= '0' && c <= '9';
        }

        int hex_value(int c)
        {
            if (is_digit(c))
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        }

        // The byte an entity name stands for. Numeric references keep the
        // value modulo 256; every name not understood becomes a space.
        char decode_entity(const std::string &name)
        {
            if (name == "lt")
                return '<';
            if (name == "gt")
                return '>';
            if (name == "amp")
                return '&';
            if (name == "apos")
                return '\'';
            if (name == "quot")
                return '"';
            if (name.size() >= 2 && name[0] == '#' && name[1] == 'x')
            {
                unsigned value = 0;
                for (size_t i = 2; i < name.size(); i++)
                {
                    const int digit = hex_value(static_cast<unsigned char>(name[i]));
                    if (digit < 0)
                        return ' ';
                    value = (value * 16 + static_cast<unsigned>(digit)) & 0xFF;
                }
                return static_cast<char>(value);
            }
            if (name.size() >= 2 && name[0] == '#')
            {
                unsigned value = 0;
                for (size_t i = 1; i < name.size(); i++)
                {
                    if (!is_digit(static_cast<unsigned char>(name[i])))
                        return ' ';
                    value = (value * 10 + static_cast<unsigned>(name[i] - '0')) & 0xFF;
                }
                return static_cast<char>(value);
            }
            return ' ';
        }

        // Called with ch at the "&": reads the name up to the ";", which is
        // consumed, and returns the byte it stands for. Input that ends first
        // gives a space.
        char read_entity()
        {
            entity.clear();
            for (;;)
            {
                ch = read_byte();
                if (ch == EOF)
                    return ' ';
                if (ch == ';')
                    break;
                entity += static_cast<char>(ch);
            }
            ch = read_byte();
            return decode_entity(entity);
        }

        // The rest of read_tag where the name does not stand in the window
        // up to its ">": the name's first byte, then the rest of it as it
        // stands in the window, a run at a time. Kept out of line, like the
        // other slow ways of the tokeniser, so that the common ones stay
        // small.
        [[gnu::noinline]] void read_tag_name()
        {
            std::string &name = xmltoken.text;
            name.clear();
            name += static_cast<char>(ch);
            for (;;)
            {
                const unsigned char *p = skip_name_bytes(window_next, window_end);
                name.append(reinterpret_cast<const char *>(window_next), static_cast<size_t>(p - window_next));
                window_next = p;
                ch = read_byte();
                if (ch == EOF || !tag_name_bytes.in_name[ch])
                    break;
                name += static_cast<char>(ch);
            }
            while (ch != EOF && ch != '>')
                ch = read_byte();
            if (ch == '>')
                ch = read_byte();
        }

        // Called with ch at the "<". Anything between the name and the ">",
        // such as attributes or a "/", is ignored. A "<" not followed by a
        // name (a declaration, a comment) ends the input for good.
        void read_tag()
        {
            xmltoken.kind = xml_opentag;
            ch = read_byte();
            if (ch == '/')
            {
                xmltoken.kind = xml_closetag;
                ch = read_byte();
            }
            if (!is_letter(ch) && ch != '_')
            {
                xmltoken.text.clear();
                ch = EOF;
                xmltoken.kind = xml_eoi;
                return;
            }
            // A name that stands in the window right up to its ">", with the
            // byte after it there too, is left where it stands: taking that
            // byte cannot refill the window under it.
            if (window_next > window_base && window_next[-1] == ch)
            {
                const unsigned char *p = skip_name_bytes(window_next, window_end);
                if (window_end - p >= 2 && *p == '>')
                {
                    xmltoken.lazy_begin = window_next - 1;
                    xmltoken.lazy_size = static_cast<std::size_t>(p - xmltoken.lazy_begin);
                    window_next = p + 2;
                    ch = p[1];
                    return;
                }
            }
            read_tag_name();
        }

        // Bit c set for each whitespace byte c: tab, line feed, carriage
        // return, space.
        const std::uint64_t whitespace_bits =
            (std::uint64_t(1) << '\t') | (std::uint64_t(1) << '\n') | (std::uint64_t(1) << '\r') | (std::uint64_t(1) << ' ');

        bool is_whitespace_byte(int c)
        {
            return c <= ' ' && ((whitespace_bits >> c) & 1) != 0;
        }

        // The first byte from p on that is not whitespace, or end. Most of it
        // is indentation: blanks are passed eight at a time, and in the
        // eight bytes that end them the first other byte is found at once.
        const unsigned char *skip_whitespace_bytes(const unsigned char *p, const unsigned char *end)
        {
#if defined(__SSE2__)
            // Thirty-two blanks at a time where the processor can; the run
            // mostly ends at a "<".
            const __m128i blank16 = _mm_set1_epi8(' ');
            while (end - p >= 32)
            {
                const unsigned low = static_cast<unsigned>(
                    _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), blank16)));
                const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(
                    _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16)), blank16)));
                const unsigned other = ~(low | high << 16);
                if (other != 0)
                {
                    p += __builtin_ctz(other);
                    if (!is_whitespace_byte(*p))
                        return p;
                    break;
                }
                p += 32;
            }
#endif
            const std::uint64_t blanks = 0x2020202020202020u;
            while (end - p >= 8)
            {
                std::uint64_t w;
                std::memcpy(&w, p, 8);
                const std::uint64_t differ = w ^ blanks;
                if (differ != 0)
                {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
                    p += __builtin_ctzll(differ) / 8;
#else
                    p += __builtin_clzll(differ) / 8;
#endif
                    break;
                }
                p += 8;
            }
            while (p != end && is_whitespace_byte(*p))
                p++;
            return p;
        }

        // The end of a run of text in the window from p: past the blanks
        // while blank holds, then to the next '<' or '&'; blank stays true
        // only when the run held nothing else.
        [[gnu::always_inline]] inline const unsigned char *text_run_end(const unsigned char *p, const unsigned char *end, bool &blank)
        {
            if (blank)
                p = skip_whitespace_bytes(p, end);
            if (p != end && *p != '<' && *p != '&')
            {
                blank = false;
                while (p != end && *p != '<' && *p != '&')
                    p++;
            }
            return p;
        }

        // Character data up to the next "<" or the end of input; never empty.
        // Most of it is the indentation between tags: after the look-ahead
        // byte, the run behind it in the window is scanned in place and
        // appended at once, first while it is whitespace, then up to the
        // next "<" or "&".
        void read_text_runs();
        void read_text()
        {
            xmltoken.kind = xml_text;
            const int c = ch;

            // Character data without entities that stands, with the
            // look-ahead byte before it, in the window up to a "<" is left
            // there: whitespace between tags, and most values.
            if (c != '&' && window_next > window_base && window_next[-1] == c)
            {
                const unsigned char *const end = window_end;
                bool blank = is_whitespace_byte(c);
                const unsigned char *p = text_run_end(window_next, end, blank);
                if (p != end && *p == '<')
                {
                    xmltoken.lazy_begin = window_next - 1;
                    xmltoken.lazy_size = static_cast<std::size_t>(p - xmltoken.lazy_begin);
                    xmltoken.whitespace = blank;
                    window_next = p + 1;
                    ch = '<';
                    return;
                }
            }
            read_text_runs();
        }

        // The rest of read_text: the bytes are gathered into the token.
        [[gnu::noinline]] void read_text_runs()
        {
            std::string &text = xmltoken.text;
            bool whitespace = true;
            int c = ch;
            text.clear();
            while (c != EOF && c != '<')
            {
                if (c == '&')
                {
                    ch = c;
                    const char decoded = read_entity();
                    text += decoded;
                    whitespace = whitespace && is_whitespace_byte(static_cast<unsigned char>(decoded));
                    c = ch;
                    continue;
                }
                text += static_cast<char>(c);
                whitespace = whitespace && is_whitespace_byte(c);
                const unsigned char *p = text_run_end(window_next, window_end, whitespace);
                text.append(reinterpret_cast<const char *>(window_next), static_cast<size_t>(p - window_next));
                window_next = p;
                c = read_byte();
            }
            ch = c;
            xmltoken.whitespace = whitespace;
        }

        // The text of the token, whitespace and names left in the window
        // included.
        const std::string &token_text()
        {
            if (xmltoken.lazy_size != 0)
            {
                xmltoken.text.assign(reinterpret_cast<const char *>(xmltoken.lazy_begin), xmltoken.lazy_size);
                xmltoken.lazy_size = 0;
            }
            return xmltoken.text;
        }

        // The text of the token as a string of its own, made once.
        std::string token_string()
        {
            if (xmltoken.lazy_size != 0)
                return std::string(reinterpret_cast<const char *>(xmltoken.lazy_begin), xmltoken.lazy_size);
            return xmltoken.text;
        }

        void next_token_xml()
        {
            xmltoken.lazy_size = 0;
            if (!initialised_xml_parser)
            {
                ch = read_byte();
                initialised_xml_parser = true;
            }
            xmltoken.whitespace = false;
            if (ch == EOF)
            {
                xmltoken.kind = xml_eoi;
                xmltoken.text.clear();
            }
            else if (ch == '<')
                read_tag();
            else
                read_text();
        }

        // ---- Error contexts -------------------------------------------------

        // The contexts that say where the reader stands. They matter only to
        // a fatal error report, so they are kept here as pointers to literals
        // and pushed onto the real stack just before something can end the
        // program; from then on (the eager mode) they are pushed as they come.
        struct pending_context
        {
            const char *text;
            const char *tag;  // "parsing xml tag: " + tag when not null
            int index;        // otherwise text + index
        };

        std::vector<pending_context> contexts;
        std::vector<ast> list_stack;  // the elements of the lists being read
        size_t contexts_pushed = 0;  // the bottom entries already on the real stack
        bool eager = false;
        int open_elements = 0;

        void push_pending()
        {
            for (; contexts_pushed < contexts.size(); contexts_pushed++)
            {
                const pending_context &c = contexts[contexts_pushed];
                if (c.tag != nullptr)
                    push_error_context(std::string("parsing xml tag: ") + c.tag);
                else
                    push_error_context(c.text + std::to_string(c.index));
            }
        }

        void materialise_contexts()
        {
            eager = true;
            push_pending();
        }

        void enter(const char *tag)
        {
            contexts.push_back({nullptr, tag, 0});
            if (eager)
                push_pending();
        }

        void enter(const char *text, int index)
        {
            contexts.push_back({text, nullptr, index});
            if (eager)
                push_pending();
        }

        void leave()
        {
            if (contexts_pushed == contexts.size())
            {
                pop_error_context();
                contexts_pushed--;
            }
            contexts.pop_back();
        }

        [[noreturn]] void xml_parse_error(const std::string &message)
        {
            materialise_contexts();
            fatal_error(1, "\nParse Error! " + message + "\n");
        }

        // Every node the reader builds costs one entry in the node table and
        // at most one in the annotation table. When either is about to refuse
        // more, the constructor's fatal error needs the contexts on the stack.
        void before_create()
        {
            if (eager)
                return;
            if (ast_nodes.size() > object_limit - 2 || ann_nodes.size() > object_limit - 2)
                materialise_contexts();
        }

        // ---- Reading operations ---------------------------------------------

        void skip_whitespace()
        {
            if (xmltoken.kind == xml_text && xmltoken.whitespace)
                next_token_xml();
        }

        // A tag name the reader expects, with its length known where it is
        // written: telling the token's name from most others is then one
        // comparison of lengths.
        // The name's first sixteen bytes are also held as two words, as a
        // load from memory gives them (zero past the name's end), so that a
        // name in the window is compared by two loads instead of a call.
        struct tag_name
        {
            template <std::size_t N>
            constexpr tag_name(const char (&literal)[N])
                : text(literal), size(N - 1), head(word_of(literal, N - 1, 0)), tail(word_of(literal, N - 1, 8))
            {
            }
            const char *text;
            std::size_t size;
            std::uint64_t head;
            std::uint64_t tail;

        private:
            static constexpr std::uint64_t word_of(const char *literal, std::size_t size, std::size_t from)
            {
                std::uint64_t word = 0;
                for (std::size_t i = 0; i < 8 && from + i < size; i++)
                {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
                    const unsigned shift = static_cast<unsigned>(8 * i);
#else
                    const unsigned shift = static_cast<unsigned>(8 * (7 - i));
#endif
                    word |= std::uint64_t(static_cast<unsigned char>(literal[from + i])) << shift;
                }
                return word;
            }
        };

        // The bytes of a word, as loaded from memory, that the first n <= 8
        // bytes of memory make.
        std::uint64_t first_bytes(std::uint64_t word, std::size_t n)
        {
            if (n >= 8)
                return word;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return word & ((std::uint64_t(1) << (8 * n)) - 1);
#else
            return word & ~(~std::uint64_t(0) >> (8 * n));
#endif
        }

        bool token_named(const tag_name &name)
        {
            if (xmltoken.lazy_size != 0)
            {
                if (xmltoken.lazy_size != name.size)
                    return false;
                const unsigned char *const bytes = xmltoken.lazy_begin;
                if (name.size <= 16 && window_end - bytes >= 16)
                {
                    std::uint64_t head, tail;
                    std::memcpy(&head, bytes, 8);
                    std::memcpy(&tail, bytes + 8, 8);
                    if (name.size < 8)
                        return first_bytes(head, name.size) == name.head;
                    return head == name.head && first_bytes(tail, name.size - 8) == name.tail;
                }
                return std::memcmp(bytes, name.text, name.size) == 0;
            }
            const std::string &text = xmltoken.text;
            return text.size() == name.size && std::memcmp(text.data(), name.text, name.size) == 0;
        }

        bool at_open_tag(tag_name tag)
        {
            return xmltoken.kind == xml_opentag && token_named(tag);
        }

        bool at_close_tag(tag_name tag)
        {
            return xmltoken.kind == xml_closetag && token_named(tag);
        }

        void mustbe_xml_opentag(tag_name tag)
        {
            enter(tag.text);
            if (++open_elements > xml_nesting_limit)
                xml_parse_error("nesting too deep");
            skip_whitespace();
            if (xmltoken.kind != xml_opentag)
                xml_parse_error("missing open tag");
            if (!token_named(tag))
                xml_parse_error(std::string("missing <") + tag.text + ">");
            next_token_xml();
        }

        void mustbe_xml_closetag(tag_name tag)
        {
            skip_whitespace();
            if (xmltoken.kind != xml_closetag)
                xml_parse_error("missing close tag");
            if (!token_named(tag))
                xml_parse_error(std::string("missing </") + tag.text + ">");
            leave();
            open_elements--;
            next_token_xml();
        }

        // Where one of several elements may stand: skips whitespace and
        // requires an open tag, whose name the caller then dispatches on.
        void mustbe_some_opentag()
        {
            skip_whitespace();
            if (xmltoken.kind != xml_opentag)
                xml_parse_error("missing open tag");
        }

        std::string ast_parse_xml_string(tag_name tag)
        {
            skip_whitespace();
            mustbe_xml_opentag(tag);
            if (xmltoken.kind != xml_text)
                xml_parse_error("missing text");
            std::string value = token_string();
            next_token_xml();
            mustbe_xml_closetag(tag);
            return value;
        }

        // The leading signed decimal number of text, as a conversion to int
        // reads it: leading whitespace, an optional sign, digits, and nothing
        // after them looked at. False when there is no digit or the number
        // does not fit in 32 bits.
        bool leading_int(const char *text, size_t size, long long &value)
        {
            size_t i = 0;
            while (i < size && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
                i++;
            bool negative = false;
            if (i < size && (text[i] == '+' || text[i] == '-'))
                negative = text[i++] == '-';
            if (i == size || !is_digit(static_cast<unsigned char>(text[i])))
                return false;
            long long magnitude = 0;
            for (; i < size && is_digit(static_cast<unsigned char>(text[i])); i++)
            {
                magnitude = magnitude * 10 + (text[i] - '0');
                if (magnitude > 2147483648LL)
                    return false;
            }
            value = negative ? -magnitude : magnitude;
            return value >= -2147483648LL && value <= 2147483647LL;
        }

        int ast_parse_xml_int(tag_name tag, int min, int max)
        {
            skip_whitespace();
            mustbe_xml_opentag(tag);
            if (xmltoken.kind != xml_text)
                xml_parse_error("number missing");
            // The number is read where it stands; its text is kept only for
            // a report, which may come after the next tokens.
            long long value = 0;
            const bool valid = xmltoken.lazy_size != 0
                                   ? leading_int(reinterpret_cast<const char *>(xmltoken.lazy_begin), xmltoken.lazy_size, value)
                                   : leading_int(xmltoken.text.data(), xmltoken.text.size(), value);
            const bool in_range = valid && value >= min && value <= max;
            std::string text;
            if (!in_range)
                text = token_string();
            next_token_xml();
            if (!valid)
                xml_parse_error("invalid number: " + text);
            mustbe_xml_closetag(tag);
            if (!in_range)
                xml_parse_error("number out of range: " + text);
            return static_cast<int>(value);
        }

        ann ast_parse_xml_annotation()
        {
            skip_whitespace();
            if (!at_open_tag("annotation"))
                return create_ann();
            std::vector<std::string> comments, warnings, errors;
            mustbe_xml_opentag("annotation");
            skip_whitespace();
            for (int n = 0; !at_close_tag("annotation") && xmltoken.kind != xml_eoi; n++)
            {
                enter("parsing annotation index: ", n);
                skip_whitespace();
                if (at_open_tag("ann-comment"))
                    comments.push_back(ast_parse_xml_string("ann-comment"));
                else if (at_open_tag("ann-warning"))
                    warnings.push_back(ast_parse_xml_string("ann-warning"));
                else if (at_open_tag("ann-error"))
                    errors.push_back(ast_parse_xml_string("ann-error"));
                else
                    xml_parse_error("missing open tag <ann-comment>, <ann-warning> or <ann-error> found:" +
                                    token_text());
                skip_whitespace();
                leave();
            }
            mustbe_xml_closetag("annotation");
            before_create();
            return create_ann(std::move(comments), std::move(warnings), std::move(errors));
        }

        // Reads a list element: its annotation set, then one element by
        // read_element(index) after another up to the list's close tag.
        template <typename ReadElement>
        std::vector<ast> read_list(tag_name tag, const char *context, ann &a, ReadElement read_element)
        {
            mustbe_xml_opentag(tag);
            a = ast_parse_xml_annotation();
            skip_whitespace();
            // The elements wait on a stack shared by the lists being read
            // inside one another, so that each list is given one allocation
            // of its own size instead of growing one element at a time.
            const size_t base = list_stack.size();
            for (int n = 0; !at_close_tag(tag) && xmltoken.kind != xml_eoi; n++)
            {
                enter(context, n);
                const ast element = read_element(n);
                list_stack.push_back(element);
                skip_whitespace();
                leave();
            }
            mustbe_xml_closetag(tag);
            before_create();
            std::vector<ast> elements(list_stack.begin() + static_cast<std::ptrdiff_t>(base), list_stack.end());
            list_stack.resize(base);
            return elements;
        }

        ast ast_parse_xml_var_dec()
        {
            mustbe_xml_opentag("var-dec");
            const ann a = ast_parse_xml_annotation();
            std::string segment = ast_parse_xml_string("var-segment");
            std::string name = ast_parse_xml_string("var-name");
            const int offset = ast_parse_xml_int("var-offset", 0, 32767);
            std::string type = ast_parse_xml_string("var-type");
            mustbe_xml_closetag("var-dec");
            before_create();
            return create_var_dec(a, std::move(name), std::move(segment), offset, std::move(type));
        }

        ast ast_parse_xml_var()
        {
            mustbe_xml_opentag("var");
            const ann a = ast_parse_xml_annotation();
            std::string segment = ast_parse_xml_string("var-segment");
            std::string name = ast_parse_xml_string("var-name");
            const int offset = ast_parse_xml_int("var-offset", 0, 32767);
            std::string type = ast_parse_xml_string("var-type");
            mustbe_xml_closetag("var");
            before_create();
            return create_var(a, std::move(name), std::move(segment), offset, std::move(type));
        }

        ast ast_parse_xml_class_var_decs()
        {
            ann a;
            std::vector<ast> decs = read_list("class-var-decs", "parsing class-var-decs index: ", a,
                                              [](int) { return ast_parse_xml_var_dec(); });
            return create_class_var_decs(a, std::move(decs));
        }

        ast ast_parse_xml_param_list()
        {
            ann a;
            std::vector<ast> params = read_list("param-list", "parsing param-list index: ", a,
                                                [](int) { return ast_parse_xml_var_dec(); });
            return create_param_list(a, std::move(params));
        }

        ast ast_parse_xml_expr();
        ast ast_parse_xml_term();
        ast ast_parse_xml_statements();

        ast ast_parse_xml_infix_op()
        {
            mustbe_xml_opentag("op");
            const ann a = ast_parse_xml_annotation();
            std::string op = ast_parse_xml_string("i-op");
            mustbe_xml_closetag("op");
            before_create();
            return create_infix_op(a, std::move(op));
        }

        ast ast_parse_xml_expr()
        {
            ann a;
            std::vector<ast> elements =
                read_list("expr", "parsing expr index: ", a,
                          [](int n) { return n % 2 == 0 ? ast_parse_xml_term() : ast_parse_xml_infix_op(); });
            // An expression needs an odd number of elements; the constructor
            // refuses any other, with the contexts of the way here.
            if (elements.size() % 2 == 0)
                materialise_contexts();
            return create_expr(a, std::move(elements));
        }

        ast ast_parse_xml_expr_list()
        {
            ann a;
            std::vector<ast> exprs = read_list("expr-list", "parsing expr-list index: ", a,
                                               [](int) { return ast_parse_xml_expr(); });
            return create_expr_list(a, std::move(exprs));
        }

        ast ast_parse_xml_subr_call()
        {
            mustbe_xml_opentag("subr-call");
            const ann a = ast_parse_xml_annotation();
            std::string name = ast_parse_xml_string("subr-name");
            const ast args = ast_parse_xml_expr_list();
            mustbe_xml_closetag("subr-call");
            before_create();
            return create_subr_call(a, std::move(name), args);
        }

        ast ast_parse_xml_this()
        {
            mustbe_xml_opentag("this");
            const ann a = ast_parse_xml_annotation();
            mustbe_xml_closetag("this");
            before_create();
            return create_this(a);
        }

        ast ast_parse_xml_call_as_function()
        {
            mustbe_xml_opentag("call-as-function");
            const ann a = ast_parse_xml_annotation();
            std::string class_name = ast_parse_xml_string("class-name");
            const ast call = ast_parse_xml_subr_call();
            mustbe_xml_closetag("call-as-function");
            before_create();
            return create_call_as_function(a, std::move(class_name), call);
        }

        ast ast_parse_xml_call_as_method()
        {
            mustbe_xml_opentag("call-as-method");
            const ann a = ast_parse_xml_annotation();
            std::string class_name = ast_parse_xml_string("class-name");
            mustbe_some_opentag();
            ast object;
            if (token_named("this"))
                object = ast_parse_xml_this();
            else if (token_named("var"))
                object = ast_parse_xml_var();
            else
                xml_parse_error("missing open tag <var> or <this> found:" + token_text());
            const ast call = ast_parse_xml_subr_call();
            mustbe_xml_closetag("call-as-method");
            before_create();
            return create_call_as_method(a, std::move(class_name), object, call);
        }

        // The elements inside "term" that have no reading operation of their
        // own; each is read whole, from its open tag to its close tag.
        ast read_int()
        {
            mustbe_xml_opentag("int");
            const ann a = ast_parse_xml_annotation();
            const int value = ast_parse_xml_int("ic", -32768, 32767);
            mustbe_xml_closetag("int");
            before_create();
            return create_int(a, value);
        }

        ast read_string()
        {
            mustbe_xml_opentag("string");
            const ann a = ast_parse_xml_annotation();
            std::string value = ast_parse_xml_string("sc");
            mustbe_xml_closetag("string");
            before_create();
            return create_string(a, std::move(value));
        }

        ast read_bool()
        {
            mustbe_xml_opentag("bool");
            const ann a = ast_parse_xml_annotation();
            const bool value = ast_parse_xml_string("tf") == "true";
            mustbe_xml_closetag("bool");
            before_create();
            return create_bool(a, value);
        }

        ast read_null()
        {
            mustbe_xml_opentag("null");
            const ann a = ast_parse_xml_annotation();
            mustbe_xml_closetag("null");
            before_create();
            return create_null(a);
        }

        ast read_unary_op()
        {
            mustbe_xml_opentag("unary-op");
            const ann a = ast_parse_xml_annotation();
            std::string op = ast_parse_xml_string("op");
            const ast term = ast_parse_xml_term();
            mustbe_xml_closetag("unary-op");
            before_create();
            return create_unary_op(a, std::move(op), term);
        }

        ast read_array_index()
        {
            mustbe_xml_opentag("array-index");
            const ann a = ast_parse_xml_annotation();
            const ast var = ast_parse_xml_var();
            const ast index = ast_parse_xml_expr();
            mustbe_xml_closetag("array-index");
            before_create();
            return create_array_index(a, var, index);
        }

        ast ast_parse_xml_term()
        {
            mustbe_xml_opentag("term");
            const ann a = ast_parse_xml_annotation();
            mustbe_some_opentag();
            ast term;
            if (token_named("int"))
                term = read_int();
            else if (token_named("string"))
                term = read_string();
            else if (token_named("bool"))
                term = read_bool();
            else if (token_named("null"))
                term = read_null();
            else if (token_named("this"))
                term = ast_parse_xml_this();
            else if (token_named("expr"))
                term = ast_parse_xml_expr();
            else if (token_named("var"))
                term = ast_parse_xml_var();
            else if (token_named("array-index"))
                term = read_array_index();
            else if (token_named("call-as-function"))
                term = ast_parse_xml_call_as_function();
            else if (token_named("call-as-method"))
                term = ast_parse_xml_call_as_method();
            else if (token_named("unary-op"))
                term = read_unary_op();
            else
                xml_parse_error("missing open tag <int>, <string>, <bool>, <null>, <this>, <expr>, <var>, "
                                "<array-index>, <call-as-function>, <call-as-method> or <unary-op> found:" +
                                token_text());
            mustbe_xml_closetag("term");
            before_create();
            return create_term(a, term);
        }

        // ---- Statements -----------------------------------------------------

        ast ast_parse_xml_if()
        {
            mustbe_xml_opentag("if");
            const ann a = ast_parse_xml_annotation();
            const ast condition = ast_parse_xml_expr();
            const ast if_true = ast_parse_xml_statements();
            mustbe_xml_closetag("if");
            before_create();
            return create_if(a, condition, if_true);
        }

        ast ast_parse_xml_if_else()
        {
            mustbe_xml_opentag("if-else");
            const ann a = ast_parse_xml_annotation();
            const ast condition = ast_parse_xml_expr();
            const ast if_true = ast_parse_xml_statements();
            const ast if_false = ast_parse_xml_statements();
            mustbe_xml_closetag("if-else");
            before_create();
            return create_if_else(a, condition, if_true, if_false);
        }

        ast ast_parse_xml_while()
        {
            mustbe_xml_opentag("while");
            const ann a = ast_parse_xml_annotation();
            const ast condition = ast_parse_xml_expr();
            const ast body = ast_parse_xml_statements();
            mustbe_xml_closetag("while");
            before_create();
            return create_while(a, condition, body);
        }

        ast read_let()
        {
            mustbe_xml_opentag("let");
            const ann a = ast_parse_xml_annotation();
            const ast var = ast_parse_xml_var();
            const ast expr = ast_parse_xml_expr();
            mustbe_xml_closetag("let");
            before_create();
            return create_let(a, var, expr);
        }

        ast read_let_array()
        {
            mustbe_xml_opentag("let-array");
            const ann a = ast_parse_xml_annotation();
            const ast var = ast_parse_xml_var();
            const ast index = ast_parse_xml_expr();
            const ast expr = ast_parse_xml_expr();
            mustbe_xml_closetag("let-array");
            before_create();
            return create_let_array(a, var, index, expr);
        }

        ast read_do()
        {
            mustbe_xml_opentag("do");
            const ann a = ast_parse_xml_annotation();
            mustbe_some_opentag();
            ast call;
            if (token_named("call-as-function"))
                call = ast_parse_xml_call_as_function();
            else if (token_named("call-as-method"))
                call = ast_parse_xml_call_as_method();
            else
                xml_parse_error("missing open tag <call-as-function> or <call-as-method> found:" +
                                token_text());
            mustbe_xml_closetag("do");
            before_create();
            return create_do(a, call);
        }

        ast read_return()
        {
            mustbe_xml_opentag("return");
            const ann a = ast_parse_xml_annotation();
            mustbe_xml_closetag("return");
            before_create();
            return create_return(a);
        }

        ast read_return_expr()
        {
            mustbe_xml_opentag("return-expr");
            const ann a = ast_parse_xml_annotation();
            const ast expr = ast_parse_xml_expr();
            mustbe_xml_closetag("return-expr");
            before_create();
            return create_return_expr(a, expr);
        }

        ast read_statement()
        {
            mustbe_xml_opentag("statement");
            const ann a = ast_parse_xml_annotation();
            mustbe_some_opentag();
            ast statement;
            if (token_named("let"))
                statement = read_let();
            else if (token_named("let-array"))
                statement = read_let_array();
            else if (token_named("if"))
                statement = ast_parse_xml_if();
            else if (token_named("if-else"))
                statement = ast_parse_xml_if_else();
            else if (token_named("while"))
                statement = ast_parse_xml_while();
            else if (token_named("do"))
                statement = read_do();
            else if (token_named("return"))
                statement = read_return();
            else if (token_named("return-expr"))
                statement = read_return_expr();
            else
                xml_parse_error("missing open tag <let>, <let-array>, <if>, <if-else>, <while>, <do>, <kn-return> "
                                "or <return-expr> found:" +
                                token_text());
            mustbe_xml_closetag("statement");
            before_create();
            return create_statement(a, statement);
        }

        ast ast_parse_xml_statements()
        {
            ann a;
            std::vector<ast> statements = read_list("statements", "parsing statements index: ", a,
                                                    [](int) { return read_statement(); });
            return create_statements(a, std::move(statements));
        }

        // ---- Subroutines and the class --------------------------------------

        ast ast_parse_xml_subr_body()
        {
            mustbe_xml_opentag("subr-body");
            const ann a = ast_parse_xml_annotation();
            ann decs_ann;
            std::vector<ast> decs = read_list("var-decs", "parsing var-decs index: ", decs_ann,
                                              [](int) { return ast_parse_xml_var_dec(); });
            const ast var_decs = create_var_decs(decs_ann, std::move(decs));
            const ast body = ast_parse_xml_statements();
            mustbe_xml_closetag("subr-body");
            before_create();
            return create_subr_body(a, var_decs, body);
        }

        // A constructor, function or method: they differ only in the element
        // name and the constructor that builds the node.
        ast read_subroutine(tag_name tag, ast (*create)(ann, std::string, std::string, ast, ast))
        {
            mustbe_xml_opentag(tag);
            const ann a = ast_parse_xml_annotation();
            std::string vtype = ast_parse_xml_string("vtype");
            std::string name = ast_parse_xml_string("name");
            const ast params = ast_parse_xml_param_list();
            const ast body = ast_parse_xml_subr_body();
            mustbe_xml_closetag(tag);
            before_create();
            return create(a, std::move(vtype), std::move(name), params, body);
        }

        ast read_subr()
        {
            mustbe_xml_opentag("subr");
            const ann a = ast_parse_xml_annotation();
            mustbe_some_opentag();
            ast subr;
            if (token_named("constructor"))
                subr = read_subroutine("constructor", create_constructor);
            else if (token_named("function"))
                subr = read_subroutine("function", create_function);
            else if (token_named("method"))
                subr = read_subroutine("method", create_method);
            else
                xml_parse_error("missing open tag <constructor>, <function>, or <method>");
            mustbe_xml_closetag("subr");
            before_create();
            return create_subr(a, subr);
        }
    }

    ast ast_parse_xml()
    {
        take_stdin_window();
        push_error_context("ast_parse_xml()");
        next_token_xml();
        skip_whitespace();

        mustbe_xml_opentag("class");
        const ann a = ast_parse_xml_annotation();
        std::string class_name = ast_parse_xml_string("class-name");
        const ast statics = ast_parse_xml_class_var_decs();
        const ast fields = ast_parse_xml_class_var_decs();
        ann subrs_ann;
        std::vector<ast> subrs =
            read_list("subr-decs", "parsing subr-decs index: ", subrs_ann, [](int) { return read_subr(); });
        const ast subr_decs = create_subr_decs(subrs_ann, std::move(subrs));
        mustbe_xml_closetag("class");
        before_create();
        const ast tree = create_class(a, std::move(class_name), statics, fields, subr_decs);

        pop_error_context();
        give_back_stdin_window();
        return tree;
    }

    void xml_read_stdin_bytewise(bool bytewise)
    {
        bytewise_stdin = bytewise || !stream_window_available;
    }

    ast ast_parse_xml(const std::string &text)
    {
        reading_memory = true;
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text.data());
        window_base = window_next = bytes;
        window_end = bytes + text.size();
        const ast tree = ast_parse_xml();
        reading_memory = false;
        window_base = window_next = window_end = nullptr;
        return tree;
    }

    void reset_xml_reader()
    {
        reading_memory = false;
        xmltoken = xml_token();
        ch = EOF;
        initialised_xml_parser = false;
        entity.clear();
        contexts.clear();
        list_stack.clear();
        contexts_pushed = 0;
        eager = false;
        open_elements = 0;
        window_is_stdin = false;
        window_base = window_next = window_end = nullptr;
    }
}
