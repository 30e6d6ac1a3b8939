// How deeply the XML tree form may nest.
//
// The reader descends recursively, one call per element level, and so do the
// writer and the passes over the tree it builds. Input nested deeper than
// this is refused with a parse error instead of overflowing the stack. The
// limit leaves all of them ample room on the default 8 MiB stack, even in a
// sanitizer build, while no tree of a real class comes near it.
#ifndef AST_NESTING_LIMIT_H
#define AST_NESTING_LIMIT_H

namespace Jack_Compiler
{
    // The most elements the reader holds open at once, the class element and
    // the leaf text elements counted: a tree whose deepest element sits at
    // this depth is read, one level more is refused.
    const int xml_nesting_limit = 2500;
}

#endif
