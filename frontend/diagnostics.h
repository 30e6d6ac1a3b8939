// The diagnostics of a compilation: errors, warnings and their notes, each
// at a place in a source, gathered while the front end and the checks run
// and printed together in the form editors read:
//
//   FILE:LINE:COL: error: MESSAGE
//   <the source line>
//   <blanks up to the column>^
//
// Every message stands in diagnostics.def.
#ifndef FRONTEND_DIAGNOSTICS_H
#define FRONTEND_DIAGNOSTICS_H

#include "frontend/source.h"

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace Jack_Source
{
    enum class diagnostic_id
    {
#define DIAGNOSTIC(id, severity, text) id,
#include "frontend/diagnostics.def"
#undef DIAGNOSTIC
    };

    enum class severity
    {
        note,
        warning,
        error
    };

    struct diagnostic
    {
        diagnostic_id id;
        severity level;
        const source *src;  // null for a report about no place
        position where;
        std::string message;
        std::vector<diagnostic> notes;
    };

    // Thrown when the error limit is reached: the compilation stops there.
    struct too_many_errors
    {
    };

    struct diagnostic_options
    {
        bool warnings_are_errors = false;  // -Werror
        bool hide_warnings = false;        // -w
        // False under --no-checks: only what the grammar and the tree need
        // (syntax, declared and undeclared names) is checked.
        bool checks = true;
        // --allow-undefined: a call of a subroutine nobody defines is a
        // warning, and a fault only when a run reaches it.
        bool allow_undefined = false;
        bool colour = false;
        int error_limit = 50;
    };

    // Takes -Werror, -w and --no-checks into options; false for any other
    // argument.
    bool take_diagnostic_option(const std::string &argument, diagnostic_options &options);

    class diagnostics
    {
    public:
        explicit diagnostics(diagnostic_options options = {}) : options_(options) {}

        // Records a report and returns it, so that notes can be added; a
        // hidden warning is recorded nowhere and the returned report is a
        // scratch one. The error that reaches the limit throws
        // too_many_errors once it is recorded.
        diagnostic &report(diagnostic_id id, const source &src, const position &where,
                           std::initializer_list<std::string> arguments = {});
        void note(diagnostic &to, diagnostic_id id, const source &src, const position &where,
                  std::initializer_list<std::string> arguments = {});

        bool checking() const { return options_.checks; }
        bool undefined_allowed() const { return options_.allow_undefined; }
        int errors() const { return errors_; }
        int warnings() const { return warnings_; }
        bool limit_reached() const { return limit_reached_; }

        // Every report, the reports of each source in the order of their
        // places and the sources in the order they were first reported on,
        // then the line that says the limit stopped the compilation.
        std::string text(const std::string &program) const;
        void print(const std::string &program, std::FILE *to = stderr) const;

        // Whether the diagnostics should be coloured on this stream: a
        // terminal, and NO_COLOR unset or empty.
        static bool colour_wanted(std::FILE *stream);

    private:
        diagnostic make(diagnostic_id id, const source &src, const position &where,
                        std::initializer_list<std::string> arguments) const;
        void render(std::string &out, const diagnostic &d) const;

        diagnostic_options options_;
        std::vector<diagnostic> reports_;
        diagnostic scratch_;
        int errors_ = 0;
        int warnings_ = 0;
        bool limit_reached_ = false;
    };
}

#endif
