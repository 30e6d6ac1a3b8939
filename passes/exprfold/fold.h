// The expression work of exprfold: constant folding of single-operator
// expressions, identity and absorbing operands, operations on the same plain
// variable, unary operators on constants, doubled unary operators, and
// parentheses around a single term or a whole expression.
//
// Values are signed 16-bit two's-complement numbers, all arithmetic wraps
// modulo 2^16, true is -1 and false is 0. Terms that contain a subroutine
// call or a division by the constant 0 are never removed.
//
// Like the walk (copy_tree.h), every function returns its argument when
// nothing in it changed, and builds new nodes only on the way up from a
// change.
#ifndef PASSES_EXPRFOLD_FOLD_H
#define PASSES_EXPRFOLD_FOLD_H

#include "ast/syntax_tree.h"

#include <cstdint>
#include <string>

namespace Jack_Compiler
{
    enum term_class_kind
    {
        tc_impure = 0,    // holds a call or a division by the constant 0: never removed
        tc_simple = 1,    // free of calls, but neither a constant nor a plain variable
        tc_variable = 2,  // a plain variable, named by name
        tc_constant = 3   // a known value, held in value
    };

    // What the folding rules know about one term.
    struct tclass
    {
        int kind = tc_impure;
        int16_t value = 0;   // when kind is tc_constant
        std::string name;    // when kind is tc_variable
    };

    // One folding step: the term that replaces an operator and its two
    // operands when a rule fired (changed), otherwise a new expression of
    // the operator between the two operands.
    struct optimise_result
    {
        ast node = nullptr;
        bool changed = false;
    };

    // Set when a subroutine call or a division by the constant 0 has been met
    // since it was last reset. copy_expr resets it around each element so
    // that each term is classified by what lies inside it alone, and merges
    // it back so that enclosing expressions see it too.
    extern bool has_calls;

    // t must be an ast_expr. Returns t, a new expression, or the expression
    // held inside t when t is a parenthesised expression and nothing else.
    ast copy_expr(ast t);

    // t must be an ast_term. Returns t, a new term, or a term taken from
    // inside t (parentheses or doubled unary operators removed).
    ast copy_term(ast t);

    // u must be an ast_unary_op. Returns u, or a new one around the copied
    // operand with the same operator and annotation set.
    ast copy_unary_op(ast u);

    tclass term_classify(ast t, bool calls_seen);

    // Applies the first rule of lhs op rhs that holds. A division by the
    // constant 0 folds nothing and sets has_calls.
    optimise_result optimise_expr(ast lhs, const tclass &lhs_class, ast op, ast rhs, const tclass &rhs_class);

    // The fallback when no rule holds: a new expression of the same operator
    // between the operands, with no annotations, and changed false. When no
    // operand changed, copy_expr drops it and hands its argument back; it
    // counts against the node limit all the same.
    optimise_result unoptimised_expr(ast lhs, const tclass &lhs_class, ast op, ast rhs, const tclass &rhs_class);
}

#endif
