// jackc [--no-fold] [-g] [-Werror] [-w] [--no-checks] PATH...: compiles every
// class X.jack named, or found in a named folder, to X.vm beside it: the
// bytes of
//   jack2xml X.jack | exprfold | xml2vm
// (without exprfold under --no-fold), made in this one process. Every class
// is checked first; when any has an error, no file is written.
#include "cli/standard_options.h"
#include "compiler/compile.h"
#include "iobuffer/iobuffer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

using Lum_IO_Buffers::fatal_error;

namespace
{
    // Puts the file at from in the place of to, as rename does.
    bool move_into_place(const std::string &from, const std::string &to)
    {
#if defined(__linux__) && defined(SYS_renameat)
        // The C library keeps rename among its formatted printing, which no
        // other part of this program uses: the first call maps 64 KiB of that
        // code into the process, a twentieth of its resident memory. The
        // system call is the same operation.
        return syscall(SYS_renameat, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()) == 0;
#else
        return std::rename(from.c_str(), to.c_str()) == 0;
#endif
    }

    // Writes text to path in full or not at all: into a new file beside it,
    // which then takes its place.
    void write_file(const std::string &target, const std::string &text)
    {
        const size_t slash = target.rfind('/');
        const size_t name_at = slash == std::string::npos ? 0 : slash + 1;
        const std::string temporary = target.substr(0, name_at) + "." + target.substr(name_at) + "." +
                                      std::to_string(getpid()) + ".tmp";
        const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0)
            fatal_error(1, "jackc: cannot write " + target + ": " + std::strerror(errno));
        size_t done = 0;
        while (done < text.size())
        {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        const int error = done < text.size() ? errno : 0;
        if (close(fd) != 0 || error != 0 || !move_into_place(temporary, target))
        {
            const int reason = error != 0 ? error : errno;
            unlink(temporary.c_str());
            fatal_error(1, "jackc: cannot write " + target + ": " + std::strerror(reason));
        }
    }

    // The classes a PATH names: the file itself, or the .jack files of the
    // folder.
    std::vector<std::string> classes_of(const std::string &argument)
    {
        struct stat status;
        if (stat(argument.c_str(), &status) != 0)
            fatal_error(1, "jackc: cannot open " + argument + ": " + std::strerror(errno));
        if (S_ISDIR(status.st_mode))
        {
            std::vector<std::string> found;
            try
            {
                found = Jack_Compiler_Driver::jack_files_in(argument);
            }
            catch (const Jack_Compiler_Driver::folder_error &error)
            {
                fatal_error(1, std::string("jackc: ") + error.what());
            }
            if (found.empty())
                fatal_error(1, "jackc: the folder " + argument + " holds no .jack file");
            return found;
        }
        const size_t slash = argument.rfind('/');
        if (!Jack_Compiler_Driver::is_jack_name(slash == std::string::npos ? argument : argument.substr(slash + 1)))
            fatal_error(1, "jackc: " + argument + " is neither a .jack file nor a folder");
        return {argument};
    }
}

namespace
{
    const Jack_Command_Line::program_help help = {
        "jackc",
        "jackc [--no-fold] [-g] [-Werror] [-w] [--no-checks] [--allow-undefined] PATH...",
        "Compiles Jack classes to VM code. Each PATH is a .jack file or a folder whose\n"
        ".jack files are all taken. Every class is read and checked, alone and against\n"
        "the others and the standard library, and every error and warning is reported\n"
        "on standard error as FILE:LINE:COL: error: MESSAGE with the source line and a\n"
        "caret. When no class has an error, it writes X.vm beside every class X.jack,\n"
        "the same bytes as jack2xml X.jack | exprfold | xml2vm, all in one process;\n"
        "when one has, it writes no .vm file at all.\n",
        "  --no-fold    leave constant expressions as written (jack2xml | xml2vm)\n"
        "  -g           a comment \"//@ FILE.jack:LINE:COL\" before the code of each\n"
        "               statement and each function line, for the runner's reports\n"
        "  -Werror      make every warning an error\n"
        "  -w           report no warnings\n"
        "  --no-checks  check only the grammar and the names the tree resolves\n"
        "  --allow-undefined  a call of a subroutine nobody defines is a warning\n",
        "Any other argument starting with \"-\" is an error.\n",
        "  0    every class compiled (warnings may have been reported)\n"
        "  1    a missing or unreadable PATH, an error in a class, a tree that has no code,\n"
        "       a stage's text past 10,485,760 bytes, or a file that cannot be written\n"
        "  255  a stage would create more than 1,000,000 tree nodes or objects\n",
        "",
    };
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);

    const char usage[] = "usage: jackc [--no-fold] [-g] [-Werror] [-w] [--no-checks] [--allow-undefined] PATH...";
    Jack_Compiler_Driver::compile_options options;
    options.diagnostics.colour = Jack_Source::diagnostics::colour_wanted(stderr);
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++)
    {
        const std::string argument = argv[i];
        if (argument == "--no-fold")
            options.fold = false;
        else if (argument == "-g")
            options.marks = true;
        else if (argument == "--allow-undefined")
            options.diagnostics.allow_undefined = true;
        else if (Jack_Source::take_diagnostic_option(argument, options.diagnostics))
            continue;
        else if (argument.size() > 1 && argument[0] == '-')
            fatal_error(1, "jackc: unknown option " + argument + "\n" + usage);
        else
            paths.push_back(argument);
    }
    if (paths.empty())
        fatal_error(1, usage);

    // Every PATH is looked at before anything is compiled, so a mistyped
    // one costs no work and leaves no files.
    std::vector<std::string> classes;
    for (const std::string &path : paths)
        for (const std::string &found : classes_of(path))
            classes.push_back(found);

    // Every class is read and checked, whatever an earlier one held, and
    // the code is written only when no class of the run has an error, so
    // that no run can pick up a stale file beside a fresh one.
    const Jack_Compiler_Driver::compile_result result = Jack_Compiler_Driver::compile_classes(classes, options);
    std::fwrite(result.report.data(), 1, result.report.size(), stderr);
    if (result.errors > 0)
        return 1;
    for (size_t i = 0; i < classes.size(); i++)
        write_file(classes[i].substr(0, classes[i].size() - 5) + ".vm", result.code[i]);
    return 0;
}
