#include "iobuffer/error_context.h"

#include <vector>

namespace Lum_IO_Buffers
{
    namespace
    {
        // Created on first use and never freed, so that the stack is still
        // usable from anywhere up to the moment the process ends.
        std::vector<std::string> &stack()
        {
            static std::vector<std::string> *entries = new std::vector<std::string>();
            return *entries;
        }

        bool printable(unsigned char c)
        {
            return c >= 32 && c <= 126;
        }

        // Entries never hold control characters or bytes outside printable
        // ASCII, so a report can always be shown on a terminal as it is.
        std::string sanitise(const std::string &text)
        {
            std::string result;
            result.reserve(text.size());
            for (char ch : text)
            {
                const unsigned char c = static_cast<unsigned char>(ch);
                if (printable(c))
                {
                    result += ch;
                    continue;
                }
                switch (c)
                {
                case 0: result += "\\0"; break;
                case '\t': result += "\\t"; break;
                case '\n': result += "\\n"; break;
                case '\r': result += "\\r"; break;
                default:
                {
                    // The byte is taken as signed and widened to 16 bits, so
                    // bytes 128 to 255 show as \uFF80 to \uFFFF.
                    static const char digits[] = "0123456789ABCDEF";
                    const unsigned value = static_cast<unsigned short>(static_cast<signed char>(c));
                    result += "\\u";
                    for (int shift = 12; shift >= 0; shift -= 4)
                        result += digits[(value >> shift) & 0xF];
                }
                }
            }
            return result;
        }
    }

    void new_error_context(std::string text)
    {
        stack().clear();
        stack().push_back(sanitise(text));
    }

    void push_error_context(std::string text)
    {
        stack().push_back(sanitise(text));
    }

    std::string pop_error_context()
    {
        if (stack().empty())
            return "";
        std::string top = std::move(stack().back());
        stack().pop_back();
        return top;
    }

    int depth_error_context()
    {
        return static_cast<int>(stack().size());
    }

    void prune_error_context(int depth)
    {
        if (depth <= 0)
            stack().clear();
        else if (stack().size() > static_cast<size_t>(depth))
            stack().resize(depth);
    }

    std::string construct_error_context()
    {
        std::string result = "\n***** Fatal error!\n";
        const std::vector<std::string> &entries = stack();
        for (size_t i = 0; i < entries.size(); i++)
        {
            std::string index = std::to_string(i);
            if (index.size() < 5)
                index.insert(0, 5 - index.size(), ' ');
            result += index;
            result += ": ";
            result += entries[i];
            result += '\n';
        }
        result += "error: ";
        return result;
    }
}
