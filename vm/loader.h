// Reads and checks the VM files of a program and decodes them into the
// instruction form. Nothing of a program runs before all of it has passed.
#ifndef TOOLS_VMRUN_LOADER_H
#define TOOLS_VMRUN_LOADER_H

#include "vm/program.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace vm_runner
{
    struct source_file
    {
        std::string path; // as reports name it
        std::string text;
    };

    // A file that is not a VM program: the message names the file and line
    // ("Main.vm:3: expected ... but found ...").
    struct load_error : std::runtime_error
    {
        using std::runtime_error::runtime_error;
    };

    struct load_options
    {
        // Calls of functions that neither the files nor the library define
        // load, and fault only when one is reached.
        bool allow_undefined = false;
        // Math.multiply, divide, min and max in the loop itself; off, every
        // library call goes through the library, as the tests compare.
        bool inline_arithmetic = true;
        // The fused code beside the plain (vm/fusion.h); off, the loop runs
        // one command a step, as the tests compare.
        bool fuse = true;
    };

    // The files are laid out in the order of their base names, byte by byte
    // (the full path breaks a tie), whatever order they are given in. A
    // comment line "//@ FILE.jack:LINE:COL" gives the Jack place of the
    // commands after it, FILE.jack lying beside the VM file.
    program load_program(std::vector<source_file> files, const load_options &options = {});

    // The bytes of a file; load_error when it cannot be read.
    std::string read_text(const std::string &path);

    // The .vm files that the command-line paths name: a path is a .vm file or
    // a folder whose .vm files are taken (not those of its sub-folders).
    std::vector<source_file> read_paths(const std::vector<std::string> &paths);
}

#endif
