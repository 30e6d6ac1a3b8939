// Seeded random Jack programs that run: a few classes each, every loop
// ending, calls only of functions defined before (so nothing recurses) and
// of the standard library, no division by zero and no index outside an
// array, and every computed value printed. For end-to-end checks of the
// compiler and the runner: a program must print, draw and end the same
// however it is compiled.
#ifndef TESTS_SUPPORT_RANDOM_PROGRAM_H
#define TESTS_SUPPORT_RANDOM_PROGRAM_H

#include <string>
#include <utility>
#include <vector>

namespace test_support
{
    // The classes of program `seed`: (file name, Jack text), Main.jack last.
    std::vector<std::pair<std::string, std::string>> random_program(unsigned seed);
}

#endif
