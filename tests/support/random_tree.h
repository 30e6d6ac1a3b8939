// Trees for the tests of the tree library and of the passes: seeded random
// class trees that the reader accepts, and deeply nested classes.
#ifndef TESTS_SUPPORT_RANDOM_TREE_H
#define TESTS_SUPPORT_RANDOM_TREE_H

#include "ast/syntax_tree.h"
#include "tests/support/process.h"

#include <functional>
#include <random>
#include <string>

namespace test_support
{
    // A random class tree that the reader reads back node for node: every
    // node kind occurs (over a few dozen trees), annotation sets on nodes
    // of every kind, text values with bytes that need escaping and bytes 128
    // to 255, and integers spread over the ranges the reader accepts. Text
    // values and annotation entries are never empty.
    Jack_Compiler::ast random_class(std::mt19937 &rng);

    // The text of random_class(std::mt19937(seed)) written with step_width.
    // The tree is built and written in a child process, so the caller's node
    // table and output volume do not grow.
    std::string random_class_xml(unsigned seed, int step_width);

    // The text of a valid class, as written with step_width, whose deepest
    // element lies depth elements down (the class element is at depth 1):
    // a chain of parenthesised expressions in a return statement. depth must
    // be at least 11.
    std::string nested_class_xml(int depth, int step_width);
}

#endif
