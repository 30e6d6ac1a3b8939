// A Jack source text held in memory, and the one way its readers report an
// error: the position, the source line with a caret under the offending
// token, and what was expected and what was found.
#ifndef TOOLS_JACK2XML_SOURCE_H
#define TOOLS_JACK2XML_SOURCE_H

#include <cstdio>
#include <string>

namespace Jack_Source
{
    // The whole text of file, or of the file at path. A file that cannot be
    // opened or read ends the program with status 1 and
    // "<program>: cannot open <name>: <reason>" (or "cannot read").
    std::string read_text(std::FILE *file, const std::string &name, const std::string &program);
    std::string read_text_file(const std::string &path, const std::string &program);

    struct position
    {
        size_t offset = 0;  // of the first byte, from the start of the text
        int line = 1;       // from 1
        int column = 1;     // bytes from 1; a tab is one column
    };

    class source
    {
    public:
        source(std::string name, std::string text) : name_(std::move(name)), text_(std::move(text)) {}

        const std::string &name() const { return name_; }
        const std::string &text() const { return text_; }

        // Ends the program with status 1 and the report
        //   <name>:<line>:<column>: expected <expected> but found <found>
        //   <the source line>
        //   <blanks up to the column>^
        [[noreturn]] void error(const position &where, const std::string &expected, const std::string &found) const;

    private:
        std::string line_at(const position &where) const;

        std::string name_;
        std::string text_;
    };
}

#endif
