// The standard library that vmrun provides: its table of functions, and
// the functions themselves, one source file per group of classes.
#ifndef TOOLS_VMRUN_LIBRARY_H
#define TOOLS_VMRUN_LIBRARY_H

#include <cstdint>

namespace vm_runner
{
    class machine;

    // A library function reads its arguments (the words the call passed) and
    // returns the word the call leaves on the stack (0 for a void function).
    using native_function = int16_t (*)(machine &, const int16_t *arguments);

    struct library_function
    {
        const char *name;
        int arguments;
        native_function run;
    };

    enum library_index : int
    {
#define VM_LIBRARY(cls, fn, n) lib_##cls##_##fn,
#include "vm/library_functions.def"
#undef VM_LIBRARY
        library_size
    };

    extern const library_function library_table[library_size];

    namespace library
    {
#define VM_LIBRARY(cls, fn, n) int16_t cls##_##fn(machine &, const int16_t *);
#include "vm/library_functions.def"
#undef VM_LIBRARY
    }

    // What Sys.error's codes mean, for its report; nullptr for a code the
    // library does not use.
    const char *error_meaning(int code);
}

#endif
