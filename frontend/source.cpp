#include "frontend/source.h"
#include "frontend/caret.h"
#include "iobuffer/iobuffer.h"

#include <cerrno>
#include <cstring>

namespace Jack_Source
{
    std::string read_text(std::FILE *file, const std::string &name, const std::string &program)
    {
        std::string text;
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        if (std::ferror(file))
            Lum_IO_Buffers::fatal_error(1, program + ": cannot read " + name + ": " + std::strerror(errno));
        return text;
    }

    std::string read_text_file(const std::string &path, const std::string &program)
    {
        std::FILE *file = std::fopen(path.c_str(), "rb");
        if (file == nullptr)
            Lum_IO_Buffers::fatal_error(1, program + ": cannot open " + path + ": " + std::strerror(errno));
        std::string text = read_text(file, path, program);
        std::fclose(file);
        return text;
    }

    std::string source::line_at(const position &where) const
    {
        size_t start = where.offset;
        if (start > text_.size())
            start = text_.size();
        while (start > 0 && text_[start - 1] != '\n' && text_[start - 1] != '\r')
            start--;
        size_t end = start;
        while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r')
            end++;
        return text_.substr(start, end - start);
    }

    std::string source::caret_lines(const position &where) const
    {
        return Jack_Source::caret_lines(line_at(where), where.column);
    }
}
