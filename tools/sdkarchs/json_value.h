// The tree of one JSON document: a plain value type whose nodes own their
// children, so a copy copies the whole subtree and a move transfers it.
#ifndef TOOLS_SDKARCHS_JSON_VALUE_H
#define TOOLS_SDKARCHS_JSON_VALUE_H

#include <string>
#include <vector>

namespace JSON_Parser
{
    // The kinds of a jsonv.
    enum jsonv_kind : int
    {
        json_object = 0,
        json_array = 1,
        json_string = 2,
        json_number = 3,
        json_true = 4,
        json_false = 5,
        json_null = 6,
        json_missing = 7  // the result of a failed lookup
    };

    struct jsonm;

    struct jsonv
    {
        int kind = json_missing;
        // The decoded contents of a string, the text of a number as written,
        // "true", "false" or "null"; empty otherwise.
        std::string text;
        std::vector<jsonv> elements;  // an array's items, in input order
        std::vector<jsonm> members;   // an object's members, in input order
    };

    struct jsonm
    {
        std::string key;  // decoded
        jsonv value;
    };

    // The value of the first member of value whose key is key, byte for
    // byte; a missing value if there is none (whatever value's kind).
    // Pass value as an rvalue to take the member out without copying.
    jsonv lookup_value(jsonv value, std::string key);

    // text if some element of value has exactly that text, else "".
    std::string lookup_element(jsonv value, std::string text);
}

#endif
