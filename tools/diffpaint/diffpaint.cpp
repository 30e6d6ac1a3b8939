// diffpaint: copies diff-style text from standard input to standard output,
// colouring each line by its marker ("-", "+" or "|") when colour is on, and
// writing every non-printable byte in a visible form (^I, ^M, M-i, ^?), so
// that differences in invisible characters can be seen.
//
//   diffpaint [-n|-y]
//
// Colour is on when standard output is a terminal; a first argument of
// exactly "-n" turns it off and "-y" turns it on; without either, a NO_COLOR
// variable that is set and not empty turns it off. The output has exactly one
// line per input line and always ends with a line feed.
#include "cli/standard_options.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
    // Terminal sequences.
    const char removed_colour[] = "\033[34;107m";  // blue on bright white
    const char added_colour[] = "\033[91;107m";    // bright red on bright white
    const char bar_colour[] = "\033[2m";           // faint
    const char reverse_on[] = "\033[7m";
    const char reverse_off[] = "\033[27m";          // the line's colour stays
    const char reset[] = "\033[0m";

    // Input is taken a block at a time and painted into an output buffer
    // that holds the largest painting of one block: every byte shown in
    // reverse video as "M-^?" (13 bytes), and a line colour and a reset
    // around each line (15 bytes for a one-byte line), plus the slack of the
    // word-wide copy below.
    const std::size_t block_size = 1 << 16;
    const std::size_t word = 8;
    const std::size_t slack = 32;  // zero bytes behind a block, for the scans below
    const std::size_t out_size = block_size * 15 + 64;

    unsigned char in_block[block_size + slack];
    char out_block[out_size];

    const char *colour_of(int marker)
    {
        switch (marker)
        {
        case '-':
            return removed_colour;
        case '+':
            return added_colour;
        case '|':
            return bar_colour;
        default:
            return nullptr;
        }
    }

    char *append(char *out, const char *text, std::size_t size)
    {
        std::memcpy(out, text, size);
        return out + size;
    }

    template <std::size_t N>
    char *append(char *out, const char (&text)[N])
    {
        return append(out, text, N - 1);
    }

    // The visible form of a byte that is not printed as itself: "^I" for a
    // tab, "^?" for 127, "M-" and the form of the low seven bits above 127.
    char *append_visible(char *out, unsigned c)
    {
        if (c >= 128)
        {
            *out++ = 'M';
            *out++ = '-';
            c &= 0x7F;
        }
        if (c == 127)
        {
            *out++ = '^';
            *out++ = '?';
        }
        else if (c >= 32)
            *out++ = static_cast<char>(c);
        else
        {
            *out++ = '^';
            *out++ = static_cast<char>(c + 64);
        }
        return out;
    }

    // Copies the run of printable bytes (32 to 126) at in to out, a word at
    // a time, and returns its length. The copy may write up to a word past
    // the run; the scan stops at the first other byte, at the latest at the
    // zero bytes kept behind the block's end.
    std::size_t copy_printable_run(const unsigned char *in, char *out)
    {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        const std::uint64_t ones = 0x0101010101010101u;
        const std::uint64_t highs = 0x8080808080808080u;
        std::size_t done = 0;
        for (;;)
        {
            std::uint64_t w;
            std::memcpy(&w, in + done, word);
            std::memcpy(out + done, &w, word);
            // The high bit of each byte below 32, or above 126; the lowest
            // one found is exact, which is all that is used.
            const std::uint64_t below = (w - ones * 32) & ~w;
            const std::uint64_t above = (w + ones) | w;
            const std::uint64_t other = (below | above) & highs;
            if (other != 0)
                return done + static_cast<std::size_t>(__builtin_ctzll(other)) / 8;
            done += word;
        }
#else
        std::size_t done = 0;
        while (in[done] >= 32 && in[done] <= 126)
        {
            out[done] = static_cast<char>(in[done]);
            done++;
        }
        return done;
#endif
    }

    // Without colour, painting maps each byte to its visible form on its
    // own (a line feed stands for itself), so a block is painted without a
    // test per byte: a table gives every form, padded to four bytes.
    struct visible_form
    {
        char bytes[4];
        std::uint32_t size;
    };

    struct visible_table
    {
        visible_form form[256];
    };

    constexpr visible_table make_visible_table()
    {
        visible_table t{};
        for (unsigned b = 0; b < 256; b++)
        {
            visible_form &f = t.form[b];
            unsigned c = b;
            std::uint32_t n = 0;
            if (c >= 128)
            {
                f.bytes[n++] = 'M';
                f.bytes[n++] = '-';
                c &= 0x7F;
            }
            if (b == '\n')
                f.bytes[n++] = '\n';
            else if (c == 127)
            {
                f.bytes[n++] = '^';
                f.bytes[n++] = '?';
            }
            else if (c >= 32)
                f.bytes[n++] = static_cast<char>(c);
            else
            {
                f.bytes[n++] = '^';
                f.bytes[n++] = static_cast<char>(c + 64);
            }
            f.size = n;
        }
        return t;
    }

    constexpr visible_table visible = make_visible_table();

    // Finds the bytes of a chunk that are not printed as themselves: bit k
    // of the mask is set when byte k is below 32 or above 126. The plain
    // scanner works anywhere; the vector one, where the processor has it,
    // does the same for 16 bytes at once.
    struct plain_scanner
    {
        static constexpr std::size_t width = 8;
        static void copy(char *out, const unsigned char *in)
        {
            std::memcpy(out, in, width);
        }
        static unsigned specials(const unsigned char *in)
        {
            unsigned mask = 0;
            for (std::size_t k = 0; k < width; k++)
                mask |= static_cast<unsigned>(in[k] < 32 || in[k] > 126) << k;
            return mask;
        }
    };

#if defined(__SSE2__)
    struct vector_scanner
    {
        static constexpr std::size_t width = 16;
        static void copy(char *out, const unsigned char *in)
        {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_loadu_si128(reinterpret_cast<const __m128i *>(in)));
        }
        static unsigned specials(const unsigned char *in)
        {
            // As signed bytes, everything from 128 up is below 32.
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
            const __m128i m = _mm_or_si128(_mm_cmplt_epi8(b, _mm_set1_epi8(32)), _mm_cmpeq_epi8(b, _mm_set1_epi8(127)));
            return static_cast<unsigned>(_mm_movemask_epi8(m));
        }
    };
    using fast_scanner = vector_scanner;
#else
    using fast_scanner = plain_scanner;
#endif

    char *append_form(char *out, unsigned char c)
    {
        const visible_form &f = visible.form[c];
        std::memcpy(out, f.bytes, 4);
        return out + f.size;
    }

    // Paints a block of size bytes without colour, a chunk at a time. Each
    // step copies the whole chunk from where the last visible form ended
    // and keeps the part up to the next such byte, then writes that byte's
    // form; the first two steps of a chunk run whether or not it has such
    // bytes (a step past the last one keeps the rest and writes nothing),
    // so a typical chunk costs no branch that the data decides. Reads up to
    // a chunk and a byte past the block (the zero slack), and writes up to
    // a chunk past the painting.
    template <typename Scanner>
    char *paint_plain_block(const unsigned char *in, std::size_t size, char *out)
    {
        const std::size_t width = Scanner::width;
        std::size_t i = 0;
        for (; i + width <= size; i += width)
        {
            const unsigned char *chunk = in + i;
            unsigned mask = Scanner::specials(chunk);
            unsigned start = 0;
            auto step = [&] {
                const unsigned at = static_cast<unsigned>(__builtin_ctz(mask | (1u << width)));
                Scanner::copy(out, chunk + start);
                out += at - start;
                const unsigned found = at < width;
                const visible_form &f = visible.form[chunk[at]];
                std::memcpy(out, f.bytes, 4);
                out += f.size & (0u - found);
                start = at + found;
                mask &= mask - 1;
            };
            step();
            step();
            while (mask != 0)
                step();
            Scanner::copy(out, chunk + start);
            out += width - start;
        }
        for (; i < size; i++)
            out = append_form(out, in[i]);
        return out;
    }

    [[noreturn]] void fail(const char *what, int error)
    {
        std::fprintf(stderr, "diffpaint: cannot %s: %s\n", what, std::strerror(error));
        _exit(1);
    }

    // Returns what standard input has now, up to size bytes, and 0 only at
    // its end. From a descriptor this is one read, so a pipe or a terminal
    // has each line shown as soon as it arrives; a stream without one (in
    // memory) is read through the C library.
    std::size_t read_some(unsigned char *buffer, std::size_t size)
    {
        const int descriptor = fileno(stdin);
        if (descriptor < 0)
        {
            const std::size_t got = std::fread(buffer, 1, size, stdin);
            if (got == 0 && std::ferror(stdin))
                fail("read standard input", errno);
            return got;
        }
        for (;;)
        {
            const ssize_t got = read(descriptor, buffer, size);
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR)
                fail("read standard input", errno);
        }
    }

    // A full disk or a closed pipe is seen after every block, so that a
    // failed run stops early instead of reading the rest of its input.
    void write_out(const char *out, std::size_t size)
    {
        if (size != 0 && (std::fwrite(out, 1, size, stdout) != size || std::ferror(stdout)))
            fail("write standard output", errno);
    }

    // Paints a block with or without colour, a run of printable bytes at a
    // time; line_start says whether the block starts a line and is left
    // saying whether the next one does.
    char *paint_block(const unsigned char *in, std::size_t size, char *out, bool colour, bool &line_start)
    {
        const unsigned char *const end = in + size;
        while (in != end)
        {
            if (line_start)
            {
                line_start = false;
                if (colour)
                    if (const char *line_colour = colour_of(*in))
                        out = append(out, line_colour, std::strlen(line_colour));
            }
            const std::size_t run = copy_printable_run(in, out);
            in += run;
            out += run;
            if (in == end)
                break;
            const unsigned c = *in++;
            if (c == '\n')
            {
                if (colour)
                    out = append(out, reset);
                *out++ = '\n';
                line_start = true;
            }
            else if (colour)
            {
                out = append(out, reverse_on);
                out = append_visible(out, c);
                out = append(out, reverse_off);
            }
            else
                out = append_visible(out, c);
        }
        return out;
    }

    // Copies standard input to standard output, line by line; returns the
    // exit status.
    int paint(bool colour)
    {
        bool line_start = true;
        for (;;)
        {
            const std::size_t got = read_some(in_block, block_size);
            if (got == 0)
                break;
            std::memset(in_block + got, 0, slack);
            char *out = out_block;
            if (colour)
                out = paint_block(in_block, got, out, true, line_start);
            else
            {
                out = paint_plain_block<fast_scanner>(in_block, got, out);
                line_start = in_block[got - 1] == '\n';
            }
            write_out(out_block, static_cast<std::size_t>(out - out_block));
        }

        // A last line without a line feed still ends like every other.
        if (!line_start)
        {
            char *out = out_block;
            if (colour)
                out = append(out, reset);
            *out++ = '\n';
            write_out(out_block, static_cast<std::size_t>(out - out_block));
        }
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            fail("write standard output", errno);
        return 0;
    }
}

// The fuzz target includes this file and calls paint() on inputs in memory.
#ifndef JACK_FUZZING
static const Jack_Command_Line::program_help diffpaint_help = {
    "diffpaint",
    "diffpaint [-n | -y]\n"
    "       diffpaint --help | --version",
    "Copies diff-style text from standard input to standard output, one line for\n"
    "each input line. Lines starting with \"-\", \"+\" or \"|\" are coloured, and every\n"
    "byte that is not printable ASCII is written visibly (^I, ^M, M-i, ^?).\n",
    "  -n         no colour\n"
    "  -y         colour, even when standard output is not a terminal\n",
    "Only the first argument counts; every other argument is ignored. Without -n\n"
    "or -y, colour is on when standard output is a terminal and NO_COLOR is not\n"
    "set to a non-empty value.\n",
    "  0    success (a reader that closes the pipe early ends it quietly)\n"
    "  1    standard input cannot be read or standard output cannot be written\n",
    "  NO_COLOR  when set and not empty, no colour unless -y is given\n",
};

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, diffpaint_help);

    // The common NO_COLOR convention: set and not empty means no colour,
    // unless asked for by -y.
    const char *no_colour = std::getenv("NO_COLOR");
    bool colour = isatty(1) != 0 && (no_colour == nullptr || *no_colour == '\0');
    if (argc > 1 && std::strcmp(argv[1], "-n") == 0)
        colour = false;
    else if (argc > 1 && std::strcmp(argv[1], "-y") == 0)
        colour = true;

    // The painting is gathered a block at a time, so each block goes out in
    // one write, whatever standard output is.
    setvbuf(stdout, nullptr, _IONBF, 0);

    return paint(colour);
}
#endif
