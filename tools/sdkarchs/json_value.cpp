#include "tools/sdkarchs/json_value.h"

#include <utility>

namespace JSON_Parser
{
    jsonv lookup_value(jsonv value, std::string key)
    {
        // value is our own copy, so the member found can be moved out of it.
        for (jsonm &member : value.members)
            if (member.key == key)
                return std::move(member.value);
        return jsonv{};
    }

    std::string lookup_element(jsonv value, std::string text)
    {
        for (const jsonv &element : value.elements)
            if (element.text == text)
                return text;
        return "";
    }
}
