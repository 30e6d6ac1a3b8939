#include "tools/sdkarchs/json_parser.h"

#include "tools/sdkarchs/tokeniser.h"

#include <string>
#include <utility>

namespace JSON_Parser
{
    namespace
    {
        int nesting_depth = 0;

        // Counts one level of arrays and objects for as long as it lives.
        struct nesting_level
        {
            nesting_level()
            {
                if (nesting_depth >= json_nesting_limit)
                    fatal_token_context("nesting too deep: more than " + std::to_string(json_nesting_limit) +
                                        " levels of arrays and objects\n");
                nesting_depth++;
            }
            ~nesting_level()
            {
                nesting_depth--;
            }
            nesting_level(const nesting_level &) = delete;
            nesting_level &operator=(const nesting_level &) = delete;
        };

        jsonv scalar(int kind)
        {
            jsonv value;
            value.kind = kind;
            value.text = token_spelling(mustbe(tk_value));
            return value;
        }
    }

    jsonv parse_value()
    {
        switch (token_kind())
        {
        case tk_lsb: return parse_array();
        case tk_lcb: return parse_object();
        case tk_string: return scalar(json_string);
        case tk_number: return scalar(json_number);
        case tk_true: return scalar(json_true);
        case tk_false: return scalar(json_false);
        case tk_null: return scalar(json_null);
        default:
            mustbe(tk_value);  // reports what was found instead
            return jsonv{};
        }
    }

    jsonv parse_object()
    {
        const nesting_level level;
        mustbe(tk_lcb);
        jsonv object = have(tk_members) ? parse_members() : jsonv{};
        mustbe(tk_rcb);
        object.kind = json_object;
        return object;
    }

    jsonv parse_array()
    {
        const nesting_level level;
        mustbe(tk_lsb);
        jsonv array = have(tk_elements) ? parse_elements() : jsonv{};
        mustbe(tk_rsb);
        array.kind = json_array;
        return array;
    }

    jsonv parse_elements()
    {
        jsonv array;
        array.kind = json_array;
        do
            array.elements.push_back(parse_value());
        while (have_next(tk_comma));
        return array;
    }

    jsonv parse_members()
    {
        jsonv object;
        object.kind = json_object;
        do
            object.members.push_back(parse_member());
        while (have_next(tk_comma));
        return object;
    }

    jsonm parse_member()
    {
        std::string key = token_spelling(mustbe(tk_string));
        mustbe(tk_colon);
        return jsonm{std::move(key), parse_value()};
    }
}
