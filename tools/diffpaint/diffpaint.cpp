// diffpaint: copies diff-style text from standard input to standard output,
// colouring each line by its marker ("-", "+" or "|") when colour is on, and
// writing every non-printable byte in a visible form (^I, ^M, M-i, ^?), so
// that differences in invisible characters can be seen.
//
//   diffpaint [-n|-y]
//
// Colour is on when standard output is a terminal; a first argument of
// exactly "-n" turns it off and "-y" turns it on. The output has exactly one
// line per input line and always ends with a line feed.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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
    const std::size_t out_size = block_size * 15 + 64;

    unsigned char in_block[block_size + word];
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
            const unsigned char *in = in_block;
            const unsigned char *const end = in + got;
            std::memset(in_block + got, 0, word);
            char *out = out_block;
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
int main(int argc, char **argv)
{
    bool colour = isatty(1) != 0;
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
