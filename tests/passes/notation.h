// A small readable notation for the trees the pass tests work on: a Jack-like
// text parsed into a tree through the constructors, and expressions printed
// back in the same notation.
//
//   expression  term (op term)*, evaluated left to right; op is one of
//               + - * / & | < > = or any other single punctuation byte
//   term        123  true  false  null  this  "text"  x  a[expr]
//               f(args)  Math.f(args) (a function call)  o.m(args) (a method
//               call on variable o)  this.m(args)  (expr)  -term  ~term
//   statement   let x = e;  let a[i] = e;  if (e) { ... } [else { ... }]
//               while (e) { ... }  do call;  return;  return e;
//               { ... } (a nested statement block)
//   class       class Name { static int s; field int f;
//                 function|method|constructor type name(int a, ...) {
//                   var int x, y; statements } ... }
//
// Printing writes a unary operator as the operator, a blank and its operand
// ("- x"), so that a folded negative constant ("-5") and an operator applied
// to a constant ("- 5") read differently.
#ifndef TESTS_PASSES_NOTATION_H
#define TESTS_PASSES_NOTATION_H

#include "ast/syntax_tree.h"

#include <string>

namespace test_support
{
    // Both throw std::invalid_argument on text they cannot read.
    Jack_Compiler::ast parse_expr(const std::string &text);
    Jack_Compiler::ast parse_class(const std::string &text);

    std::string print_expr(Jack_Compiler::ast expr);
    std::string print_term(Jack_Compiler::ast term);
}

#endif
