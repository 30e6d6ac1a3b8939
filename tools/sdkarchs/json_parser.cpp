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

        // parse_value, keeping nothing.
        void skip_value();

        void skip_sequence(TokenKind open, TokenKind first, TokenKind close, bool members)
        {
            const nesting_level level;
            mustbe(open);
            if (have(first))
            {
                do
                {
                    if (members)
                    {
                        mustbe(tk_string);
                        mustbe(tk_colon);
                    }
                    skip_value();
                } while (have_next(tk_comma));
            }
            mustbe(close);
        }

        void skip_value()
        {
            switch (token_kind())
            {
            case tk_lsb: skip_sequence(tk_lsb, tk_elements, tk_rsb, false); return;
            case tk_lcb: skip_sequence(tk_lcb, tk_members, tk_rcb, true); return;
            default: mustbe(tk_value); return;  // a scalar, or the report of what was found instead
            }
        }

        jsonv value_at(const std::vector<std::string> &path, std::size_t step)
        {
            if (step == path.size())
                return parse_value();
            if (token_kind() != tk_lcb)
            {
                skip_value();  // only an object has members
                return jsonv{};
            }
            const nesting_level level;
            mustbe(tk_lcb);
            jsonv found;
            bool seen = false;
            if (have(tk_members))
            {
                do
                {
                    const std::string key = token_spelling(mustbe(tk_string));
                    mustbe(tk_colon);
                    if (!seen && key == path[step])
                    {
                        found = value_at(path, step + 1);
                        seen = true;
                    }
                    else
                        skip_value();
                } while (have_next(tk_comma));
            }
            mustbe(tk_rcb);
            return found;
        }
    }

    jsonv parse_value_at(const std::vector<std::string> &path)
    {
        return value_at(path, 0);
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
