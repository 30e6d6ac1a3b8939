// The error context stack: code that works through nested structures pushes
// a short text for each level it enters, so that a fatal error report can say
// where the work stood. Needs nothing but the standard library, so it can be
// linked on its own (build/lib/errctx.o).
#ifndef IOBUFFER_ERROR_CONTEXT_H
#define IOBUFFER_ERROR_CONTEXT_H

#include <string>

namespace Lum_IO_Buffers
{
    // Empties the stack, then pushes text: the stack holds exactly one entry.
    void new_error_context(std::string text);

    // Pushes text. Entries are stored sanitised: control bytes and bytes
    // outside printable ASCII are written as escapes.
    void push_error_context(std::string text);

    // Removes and returns the top entry; the empty string on an empty stack.
    std::string pop_error_context();

    int depth_error_context();

    // Removes entries from the top until at most depth remain; 0 or a
    // negative depth empties the stack.
    void prune_error_context(int depth);

    // The text that stands in front of a fatal error's message: a header
    // line, one numbered line per entry (bottom first) and "error: ".
    std::string construct_error_context();
}

#endif
