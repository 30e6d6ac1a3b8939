#include "frontend/diagnostics.h"

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace Jack_Source
{
    namespace
    {
        struct entry
        {
            severity level;
            const char *text;
        };

        const entry table[] = {
#define DIAGNOSTIC(id, level, text) {severity::level, text},
#include "frontend/diagnostics.def"
#undef DIAGNOSTIC
        };

        std::string format(const char *text, std::initializer_list<std::string> arguments)
        {
            std::string out;
            for (const char *p = text; *p != '\0'; p++)
            {
                const size_t n = static_cast<size_t>(p[1] - '0');
                if (*p == '%' && p[1] >= '0' && p[1] <= '9' && n < arguments.size())
                {
                    out += arguments.begin()[n];
                    p++;
                }
                else
                    out += *p;
            }
            return out;
        }

        const char *word(severity level)
        {
            switch (level)
            {
            case severity::note: return "note";
            case severity::warning: return "warning";
            case severity::error: break;
            }
            return "error";
        }

        // The colours compilers give the three words, in bold.
        const char *colour_of(severity level)
        {
            switch (level)
            {
            case severity::note: return "\033[1;36m";
            case severity::warning: return "\033[1;35m";
            case severity::error: break;
            }
            return "\033[1;31m";
        }
    }

    bool take_diagnostic_option(const std::string &argument, diagnostic_options &options)
    {
        if (argument == "-Werror")
            options.warnings_are_errors = true;
        else if (argument == "-w")
            options.hide_warnings = true;
        else if (argument == "--no-checks")
            options.checks = false;
        else
            return false;
        return true;
    }

    diagnostic diagnostics::make(diagnostic_id id, const source &src, const position &where,
                                 std::initializer_list<std::string> arguments) const
    {
        const entry &e = table[static_cast<int>(id)];
        severity level = e.level;
        if (level == severity::warning && options_.warnings_are_errors)
            level = severity::error;
        return diagnostic{id, level, &src, where, format(e.text, arguments), {}};
    }

    diagnostic &diagnostics::report(diagnostic_id id, const source &src, const position &where,
                                    std::initializer_list<std::string> arguments)
    {
        diagnostic d = make(id, src, where, arguments);
        if (d.level == severity::warning && options_.hide_warnings)
        {
            scratch_ = d;
            return scratch_;
        }
        reports_.push_back(std::move(d));
        if (reports_.back().level == severity::error)
        {
            if (++errors_ >= options_.error_limit)
            {
                limit_reached_ = true;
                throw too_many_errors{};
            }
        }
        else
            warnings_++;
        return reports_.back();
    }

    void diagnostics::note(diagnostic &to, diagnostic_id id, const source &src, const position &where,
                           std::initializer_list<std::string> arguments)
    {
        to.notes.push_back(make(id, src, where, arguments));
    }

    void diagnostics::render(std::string &out, const diagnostic &d) const
    {
        out += d.src->name() + ":" + std::to_string(d.where.line) + ":" + std::to_string(d.where.column) + ": ";
        if (options_.colour)
            out += std::string(colour_of(d.level)) + word(d.level) + "\033[0m";
        else
            out += word(d.level);
        out += ": " + d.message + "\n" + d.src->caret_lines(d.where);
        for (const diagnostic &n : d.notes)
            render(out, n);
    }

    std::string diagnostics::text(const std::string &program) const
    {
        // Sources in the order of their first report, reports by place.
        std::vector<const source *> order;
        for (const diagnostic &d : reports_)
            if (std::find(order.begin(), order.end(), d.src) == order.end())
                order.push_back(d.src);
        std::vector<const diagnostic *> sorted;
        for (const diagnostic &d : reports_)
            sorted.push_back(&d);
        std::stable_sort(sorted.begin(), sorted.end(), [&](const diagnostic *a, const diagnostic *b) {
            if (a->src != b->src)
                return std::find(order.begin(), order.end(), a->src) < std::find(order.begin(), order.end(), b->src);
            return a->where.offset < b->where.offset;
        });
        std::string out;
        for (const diagnostic *d : sorted)
            render(out, *d);
        if (limit_reached_)
        {
            out += program + ": ";
            out += options_.colour ? std::string(colour_of(severity::error)) + "error\033[0m" : "error";
            out += ": " + format(table[static_cast<int>(diagnostic_id::too_many_errors)].text,
                                 {std::to_string(options_.error_limit)}) + "\n";
        }
        return out;
    }

    void diagnostics::print(const std::string &program, std::FILE *to) const
    {
        const std::string out = text(program);
        std::fwrite(out.data(), 1, out.size(), to);
        std::fflush(to);
    }

    bool diagnostics::colour_wanted(std::FILE *stream)
    {
        const char *no_colour = std::getenv("NO_COLOR");
        return (no_colour == nullptr || *no_colour == '\0') && isatty(fileno(stream));
    }
}
