// Prints a class tree as Jack source text.
#ifndef TOOLS_XML2JACK_JACK_WRITER_H
#define TOOLS_XML2JACK_JACK_WRITER_H

#include "ast/syntax_tree.h"

#include <string>

namespace Jack_Source
{
    // The Jack text of a class tree: four spaces a level, one declaration
    // per line, comments of the annotation sets as documentation comments
    // and warnings and errors as line comments. A tree holding text that Jack
    // cannot spell (a double quote or a line break in a string constant, "*/"
    // in a comment) ends the program before anything is written.
    std::string jack_text(Jack_Compiler::ast class_tree);
}

#endif
