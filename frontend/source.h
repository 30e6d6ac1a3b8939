// A Jack source text held in memory, and the places in it: the source line
// of a place with a caret under it, as every report shows it.
#ifndef FRONTEND_SOURCE_H
#define FRONTEND_SOURCE_H

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

        // The source line of a place and a line with a caret under its
        // column, each ended by a line feed.
        std::string caret_lines(const position &where) const;

    private:
        std::string line_at(const position &where) const;

        std::string name_;
        std::string text_;
    };
}

#endif
