#include "tests/support/xml_pieces.h"

#include <algorithm>
#include <set>

namespace test_support
{
    namespace
    {
        // Elements that hold one value as text. "op" is both: the node
        // element of an infix operator holds a line end or an element, the
        // text element inside a unary operator holds text (where neither a
        // line end nor "<" stands raw) or nothing.
        bool text_element(const std::string &name, const std::string &text, size_t after_open_tag)
        {
            static const std::set<std::string> names = {
                "class-name", "var-segment", "var-name", "var-offset", "var-type", "vtype", "name",
                "ic", "sc", "tf", "i-op", "subr-name", "ann-comment", "ann-warning", "ann-error",
                "error", "empty"};
            if (names.count(name) != 0)
                return true;
            return name == "op" && (text.compare(after_open_tag, 5, "</op>") == 0 ||
                                    (after_open_tag < text.size() && text[after_open_tag] != '<' &&
                                     text[after_open_tag] != '\n'));
        }
    }

    std::vector<size_t> xml_piece_ends(const std::string &text)
    {
        std::vector<size_t> ends;
        size_t p = 0;
        while (p < text.size())
        {
            if (text[p] == '\n')
            {
                ends.push_back(++p);
                continue;
            }
            if (text[p] == ' ')
            {
                while (p < text.size() && text[p] == ' ')
                    p++;
                ends.push_back(p);
                continue;
            }
            // A tag: text is only ever found inside a text element.
            const bool closing = text.compare(p, 2, "</") == 0;
            const size_t name_start = p + (closing ? 2 : 1);
            const size_t name_end = text.find('>', name_start);
            const std::string name = text.substr(name_start, name_end - name_start);
            if (!closing && text_element(name, text, name_end + 1))
            {
                ends.push_back(name_end + 1);
                const size_t close = text.find("</" + name + ">", name_end + 1);
                if (close > name_end + 1)
                    ends.push_back(close);  // an empty value is no write
                p = close + name.size() + 3;
                ends.push_back(p);
                continue;
            }
            ends.push_back(name_start);
            ends.push_back(name_end);
            p = name_end + 1;
            ends.push_back(p);
        }
        return ends;
    }

    size_t xml_cut_at_limit(const std::string &text, size_t room)
    {
        const std::vector<size_t> ends = xml_piece_ends(text);
        const auto crossing = std::upper_bound(ends.begin(), ends.end(), room);
        return crossing == ends.end() ? text.size() : *crossing;
    }
}
