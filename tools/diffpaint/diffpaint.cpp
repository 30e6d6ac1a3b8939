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

    // Byte-wise through the C library's buffers: no system call per byte.
    int readchar()
    {
        return getc_unlocked(stdin);
    }

    void put(int c)
    {
        putc_unlocked(c, stdout);
    }

    void put(const char *text)
    {
        while (*text != '\0')
            put(*text++);
    }

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

    void put_visible(int c, bool colour)
    {
        const bool printable = c >= 32 && c <= 126;
        if (!printable && colour)
            put(reverse_on);
        if (c >= 128)
        {
            put("M-");
            c &= 0x7F;
        }
        if (c == 127)
            put("^?");
        else if (c >= 32)
            put(c);
        else
        {
            put('^');
            put(c + 64);
        }
        if (!printable && colour)
            put(reverse_off);
    }

    [[noreturn]] void fail(const char *what, int error)
    {
        std::fprintf(stderr, "diffpaint: cannot %s: %s\n", what, std::strerror(error));
        _exit(1);
    }

    // Copies standard input to standard output, line by line; returns the
    // exit status.
    int paint(bool colour)
    {
        int c = readchar();
        while (c != EOF)
        {
            if (colour)
            {
                if (const char *line_colour = colour_of(c))
                    put(line_colour);
            }
            while (c != EOF && c != '\n')
            {
                put_visible(c, colour);
                c = readchar();
            }
            if (colour)
                put(reset);
            put('\n');
            // A full disk or a closed pipe is seen here, once per line, so
            // that a failed run stops early instead of reading the rest of
            // its input.
            if (ferror(stdout))
                fail("write standard output", errno);
            if (c != EOF)
                c = readchar();
        }

        // A read error looks like the end of the input to getc: what was read
        // has been written, but the run must not pass for a complete one.
        if (ferror(stdin))
            fail("read standard input", errno);
        if (fflush(stdout) != 0 || ferror(stdout))
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

    // Larger buffers than the default for files and pipes; a terminal keeps
    // its line buffering so that each line shows as soon as it is complete.
    static char in_buffer[1 << 16];
    static char out_buffer[1 << 16];
    setvbuf(stdin, in_buffer, _IOFBF, sizeof in_buffer);
    if (!isatty(1))
        setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);

    return paint(colour);
}
#endif
