// What the tokeniser and sdkarchs tests share: running a program on given
// input, the fatal error report, and a one-line rendering of a jsonv that
// shows kinds, order and exact bytes (the probe prints trees with it).
#ifndef TESTS_TOOLS_SDKARCHS_JSON_TEST_SUPPORT_H
#define TESTS_TOOLS_SDKARCHS_JSON_TEST_SUPPORT_H

#include "tests/support/process.h"
#include "tools/sdkarchs/json_value.h"

#include <cstdio>
#include <string>

namespace json_test
{
    inline test_support::process_result run(const std::vector<std::string> &argv, const std::string &input,
                                             std::vector<std::pair<std::string, std::string>> env = {})
    {
        test_support::process_options options;
        options.input = input;
        options.env = std::move(env);
        return test_support::run_process(argv, options);
    }

    // As fatal_error writes it with an empty context stack.
    inline std::string report(const std::string &message)
    {
        return "\n***** Fatal error!\nerror: " + message + (message.back() == '\n' ? "\n" : "\n\n");
    }

    // Quoted, with every byte outside printable ASCII (and " and \) as \xHH.
    inline std::string quote(const std::string &text)
    {
        std::string result = "\"";
        for (unsigned char c : text)
        {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            result += c >= 32 && c <= 126 && c != '"' && c != '\\' ? std::string(1, static_cast<char>(c)) : hex;
        }
        return result + "\"";
    }

    inline std::string dump(const JSON_Parser::jsonv &value)
    {
        std::string items;
        for (const JSON_Parser::jsonm &member : value.members)
            items += (items.empty() ? "" : ",") + quote(member.key) + ":" + dump(member.value);
        for (const JSON_Parser::jsonv &element : value.elements)
            items += (items.empty() ? "" : ",") + dump(element);
        switch (value.kind)
        {
        case JSON_Parser::json_object: return "{" + items + "}";
        case JSON_Parser::json_array: return "[" + items + "]";
        case JSON_Parser::json_string: return quote(value.text);
        case JSON_Parser::json_missing: return "?";
        default: return value.text;
        }
    }
}

#endif
