#include "vm/key_script.h"

#include <sstream>

namespace vm_runner
{
    namespace
    {
        bool digits(const std::string &word, unsigned long long limit, unsigned long long &value)
        {
            if (word.empty() || word.size() > 19)
                return false;
            value = 0;
            for (char c : word)
            {
                if (c < '0' || c > '9')
                    return false;
                value = value * 10 + static_cast<unsigned>(c - '0');
            }
            return value <= limit;
        }
    }

    std::vector<key_event> parse_key_script(const std::string &path, const std::string &text)
    {
        std::vector<key_event> events;
        std::istringstream in(text);
        std::string line;
        int number = 0;
        while (std::getline(in, line))
        {
            ++number;
            const size_t comment = line.find("//");
            if (comment != std::string::npos)
                line.erase(comment);
            for (char &c : line)
                if (c == '\t' || c == '\r')
                    c = ' ';
            std::istringstream words(line);
            std::vector<std::string> w;
            for (std::string word; words >> word;)
                w.push_back(word);
            if (w.empty())
                continue;
            auto fail = [&](const std::string &expected, const std::string &found) {
                throw load_error(path + ":" + std::to_string(number) + ": expected " + expected + " but found " +
                                 found);
            };
            unsigned long long step = 0, code = 0;
            if (!digits(w[0], ~0ull / 10, step))
                fail("a step count", "\"" + w[0] + "\"");
            if (!events.empty() && step <= events.back().step)
                fail("a step above " + std::to_string(events.back().step), std::to_string(step));
            if (w.size() < 2 || !digits(w[1], 32767, code))
                fail("a key code 0 to 32767", w.size() < 2 ? "the end of the line" : "\"" + w[1] + "\"");
            if (w.size() > 2)
                fail("the end of the line", "\"" + w[2] + "\"");
            events.push_back({step, static_cast<int16_t>(code)});
        }
        return events;
    }
}
