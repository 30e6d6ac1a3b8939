// The two options every program of the tool-chain answers: "--help" and
// "--version", each only as the first argument, so that every other
// argument keeps the meaning the program gives it.
#ifndef CLI_STANDARD_OPTIONS_H
#define CLI_STANDARD_OPTIONS_H

#include <string>

namespace Jack_Command_Line
{
    // What a program's --help says, section by section; the layout and the
    // lines for --help and --version are added here. Every text but name
    // and usage is whole lines, each ending with a line feed.
    struct program_help
    {
        const char *name;           // "exprfold"
        const char *usage;          // after "Usage: "; further forms on lines of their own
        const char *description;    // what it reads and writes
        const char *options;        // the program's own option lines, "" for none
        const char *arguments;      // what becomes of every other argument
        const char *exit_statuses;  // one line a status
        const char *environment;    // one entry a line, "" for none
    };

    // The exit statuses of a program that reads a class tree and writes
    // through the streams, and the four LUMTOOLS_IOBUFFER_* variables.
    extern const char tree_program_exit_statuses[];
    extern const char streams_environment[];

    // The project's version, as the build system knows it.
    const char *project_version();

    // The whole --help text.
    std::string help_text(const program_help &help);

    // When argv[1] is exactly "--help" or "--version", writes the help text
    // or "<name> (jacktree) <version>" on standard output and ends the
    // process with status 0, or with status 1 and a one-line message when
    // standard output cannot be written. Otherwise returns and changes
    // nothing; standard input is never touched.
    void answer_standard_options(int argc, char **argv, const program_help &help);
}

#endif
