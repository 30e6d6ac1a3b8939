#include "cli/standard_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef JACK_VERSION
#error "JACK_VERSION must be defined by the build"
#endif

namespace Jack_Command_Line
{
    const char tree_program_exit_statuses[] =
        "  0    success\n"
        "  1    malformed input, or output that cannot be written or passes 10 MB\n"
        "  255  more than 1,000,000 tree nodes or annotation sets\n";

    const char streams_environment[] =
        "  LUMTOOLS_IOBUFFER_OUTPUT, LUMTOOLS_IOBUFFER_ERRORS, LUMTOOLS_IOBUFFER_TRACES,\n"
        "  LUMTOOLS_IOBUFFER_LOGS  colon-separated stream settings (see the manual page)\n";

    const char *project_version()
    {
        return JACK_VERSION;
    }

    std::string help_text(const program_help &help)
    {
        std::string text = std::string("Usage: ") + help.usage + "\n";
        text += help.description;
        text += "\nOptions:\n";
        text += help.options;
        text += "  --help     show this help and exit\n"
                "  --version  show the version and exit\n";
        text += help.arguments;
        text += "\nExit status:\n";
        text += help.exit_statuses;
        if (*help.environment != '\0')
            text += std::string("\nEnvironment:\n") + help.environment;
        return text;
    }

    void answer_standard_options(int argc, char **argv, const program_help &help)
    {
        if (argc < 2)
            return;
        std::string text;
        if (std::strcmp(argv[1], "--help") == 0)
            text = help_text(help);
        else if (std::strcmp(argv[1], "--version") == 0)
            text = std::string(help.name) + " (jacktree) " + project_version() + "\n";
        else
            return;

        // Asked-for text that never arrived is a failure, as for any output.
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
        {
            std::fprintf(stderr, "%s: cannot write standard output: %s\n", help.name, std::strerror(errno));
            std::exit(1);
        }
        std::exit(0);
    }
}
