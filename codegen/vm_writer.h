// The code writer: the VM code of one class tree.
#ifndef CODEGEN_VM_WRITER_H
#define CODEGEN_VM_WRITER_H

#include "ast/syntax_tree.h"

#include <string>
#include <utility>
#include <vector>

namespace Jack_Compiler
{
    // Where the subroutines and statements of a class begin in its Jack
    // file, (line, column) each, in the order the code writer meets them.
    struct vm_marks
    {
        std::string file;  // the Jack file's name, as the marks give it
        std::vector<std::pair<int, int>> subroutines;
        std::vector<std::pair<int, int>> statements;
    };

    // The VM file of a class: one command a line, words separated by one
    // blank, LF line ends. A tree that has no code (an operator, unary
    // operator or segment of no VM meaning, an offset, constant or name the
    // VM cannot hold, a node of a kind its position does not take) ends the
    // program with status 1 and a message naming the class and subroutine;
    // nothing is returned, so nothing is written. With marks, a comment line
    // "//@ FILE:LINE:COL" stands before each function line and before the
    // commands of each statement; nothing else changes.
    std::string vm_code(ast class_tree, const vm_marks *marks = nullptr);
}

#endif
