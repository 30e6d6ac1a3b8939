// Compiling Jack classes to VM code in one process: the front end with its
// checks, the folding pass and the code writer, each stage held to the
// limits of its own process in the pipeline
//   jack2xml X.jack | exprfold | xml2vm
// jackc and vmrun (which runs from source) both compile through it.
#ifndef COMPILER_COMPILE_H
#define COMPILER_COMPILE_H

#include "frontend/diagnostics.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace Jack_Compiler_Driver
{
    struct compile_options
    {
        bool fold = true;   // --no-fold: false
        bool marks = false; // -g: a //@ line before each statement's code and each function
        Jack_Source::diagnostic_options diagnostics;
        std::string program = "jackc";  // names the program in its reports
    };

    struct compile_result
    {
        // The VM code of each class, in the order given; empty when any
        // class has an error.
        std::vector<std::string> code;
        int errors = 0;
        std::string report;  // every diagnostic, in the form editors read
    };

    // Reads and checks every class, alone and against the others and the
    // standard library, and makes the code of all when none has an error.
    // A failure of a stage past the checks (a tree that has no code, a
    // text past the output limit, the node limit, an unreadable file) ends
    // the program as that stage's program would.
    compile_result compile_classes(const std::vector<std::string> &paths, const compile_options &options);

    // A name ending in ".jack" that is more than the ending.
    bool is_jack_name(const std::string &name);

    struct folder_error : std::runtime_error
    {
        using std::runtime_error::runtime_error;
    };

    // The .jack files directly inside the folder that are (or lead to)
    // regular files, in byte order of their names, with the folder's path
    // before each; folder_error ("cannot read the folder F: reason").
    std::vector<std::string> jack_files_in(const std::string &folder);
}

#endif
