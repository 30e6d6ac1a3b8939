// A recursive-descent parser that builds a jsonv from the tokens of
// tokeniser.h. Each operation expects the current token to be the first of
// what it parses and leaves the token after it current. Malformed input ends
// the program through mustbe with exit status 1.
#ifndef TOOLS_SDKARCHS_JSON_PARSER_H
#define TOOLS_SDKARCHS_JSON_PARSER_H

#include "tools/sdkarchs/json_value.h"

#include <string>
#include <vector>

namespace JSON_Parser
{
    // Arrays and objects nested deeper than this are refused (exit status
    // 1) rather than left to overflow the stack.
    const int json_nesting_limit = 2000;

    jsonv parse_value();
    jsonv parse_object();
    jsonv parse_array();
    jsonv parse_elements();  // an array holding the elements
    jsonv parse_members();   // an object holding the members
    jsonm parse_member();

    // Reads one value exactly as parse_value does, token for token, with the
    // same checks and reports, but builds only the part at the end of path:
    // the result equals lookup_value applied to the whole tree once per key
    // (the first member of each key; missing where a step finds none). The
    // rest is checked and dropped, so a large document needs no tree.
    jsonv parse_value_at(const std::vector<std::string> &path);
}

#endif
