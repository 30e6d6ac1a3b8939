// The two lines every report about a place in a source shows: the source
// line, and a caret under the column. Header-only, so that the VM's reports
// show Jack lines the way the compiler's do.
#ifndef FRONTEND_CARET_H
#define FRONTEND_CARET_H

#include <string>

namespace Jack_Source
{
    // line is the source line without its line end; column counts bytes
    // from 1. Tabs before the column are copied into the marker line so
    // that the caret lines up under the token whatever the terminal's tab
    // stops. Each line ends with a line feed.
    inline std::string caret_lines(const std::string &line, int column)
    {
        std::string marker;
        for (int i = 0; i + 1 < column && i < static_cast<int>(line.size()); i++)
            marker += line[static_cast<size_t>(i)] == '\t' ? '\t' : ' ';
        return line + "\n" + marker + "^\n";
    }

    // Line number `number` (from 1) of text, without its line end; a line
    // feed, a carriage return alone and the pair each end a line.
    inline std::string line_of(const std::string &text, int number)
    {
        size_t start = 0;
        for (int line = 1; line < number; line++)
        {
            while (start < text.size() && text[start] != '\n' && text[start] != '\r')
                start++;
            if (start >= text.size())
                return "";
            start += text[start] == '\r' && start + 1 < text.size() && text[start + 1] == '\n' ? 2 : 1;
        }
        size_t end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            end++;
        return text.substr(start, end - start);
    }
}

#endif
