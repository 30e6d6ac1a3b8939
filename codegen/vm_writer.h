// The code writer: the VM code of one class tree.
#ifndef TOOLS_XML2VM_VM_WRITER_H
#define TOOLS_XML2VM_VM_WRITER_H

#include "ast/syntax_tree.h"

#include <string>

namespace Jack_Compiler
{
    // The VM file of a class: one command a line, words separated by one
    // blank, LF line ends. A tree that has no code (an operator, unary
    // operator or segment of no VM meaning, an offset, constant or name the
    // VM cannot hold, a node of a kind its position does not take) ends the
    // program with status 1 and a message naming the class and subroutine;
    // nothing is returned, so nothing is written.
    std::string vm_code(ast class_tree);
}

#endif
