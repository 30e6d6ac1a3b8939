// Symbol-table variable objects: one small immutable record per declared
// variable (name, type, segment, offset), for the tool-chain's compilers.
//
// Records live behind opaque handles that are never dereferenced: a handle
// holds the record's index in its upper 32 bits and a fixed tag in its lower
// 32 bits, and every accessor checks both. Any misuse of a handle (null,
// forged, out of range) ends the process through fatal_error with status -1
// (exit status 255) and a message that names the operation. At most
// 1,000,001 records can be made in one process; the next creation is fatal
// in the same way, since a compiler that needs more is stuck in a loop.
//
// Link build/lib/symrec.o together with build/lib/iobuffer.o.
#ifndef SYMBOLS_VARIABLES_H
#define SYMBOLS_VARIABLES_H

#include <string>

namespace Lum_Symbol_Tables
{
    typedef struct _symrec *symrec;

    // Any strings and any offset are accepted and kept unchanged.
    symrec symrec_create(std::string name, std::string type, std::string segment, int offset);

    std::string symrec_name(symrec variable);
    std::string symrec_type(symrec variable);
    std::string symrec_segment(symrec variable);
    int symrec_offset(symrec variable);

    // Frees every variable object, as the end of a process would, so that
    // a program that does the work of several processes in one (jackc, the
    // fuzz targets) gives each its own empty table. Every handle made before
    // becomes invalid.
    void reset_variables();
}

#endif
