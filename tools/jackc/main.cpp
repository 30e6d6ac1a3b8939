// jackc [--no-fold] PATH...: compiles every class X.jack named, or found in a
// named folder, to X.vm beside it: the bytes of
//   jack2xml X.jack | exprfold | xml2vm
// (without exprfold under --no-fold), made in this one process.
//
// Each stage is held to the limits of its own process in the pipeline. The
// text each stage writes is made and held to the output volume limit. A
// stage that could come near the node limit runs exactly as its process
// would: from empty object tables (nodes, annotation sets, variable
// objects), reading the text the stage before it wrote. So a class meets the
// node limit once in each stage, exactly where the pipeline would stop, and
// nothing is carried from one class to the next.
//
// Reading a tree back is most of the work of a stage, and for the trees of
// ordinary classes it is wasted: the reader builds from a tree's text the
// very tree that was written, so the next stage may take the tree itself.
// It does so only while the text holds so few elements that neither the
// reader nor the stage could make a tenth of the node limit; the tests
// compare both ways with the pipeline.
#include "ast/nesting_limit.h"
#include "ast/syntax_tree.h"
#include "cli/standard_options.h"
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"
#include "passes/exprfold/copy_tree.h"
#include "passes/exprfold/fold.h"
#include "symbols/variables.h"
#include "codegen/vm_writer.h"
#include "frontend/parser.h"
#include "frontend/program_checks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
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
    // What one stage may write on its standard output, as the streams hold
    // every program to it.
    const size_t output_volume_limit = 10485760;

    // The state a new process of the pipeline starts with.
    void start_stage()
    {
        Jack_Compiler::reset_tree_library();
        Lum_Symbol_Tables::reset_variables();
        Jack_Compiler::has_calls = false;
    }

    // A tree text of fewer tags than this is read by at most 3 nodes (and
    // annotation sets) per element, about 75,000, and neither folding nor
    // the code writer makes more than a few times its nodes: far from the
    // limit of 1,000,000 in any stage, so the tree may be handed on.
    const size_t tags_to_hand_on = 50000;

    void check_volume(size_t bytes, const char *what)
    {
        if (bytes > output_volume_limit)
            fatal_error(1, std::string("jackc: ") + what + " is larger than the output limit of 10,485,760 bytes");
    }

    // Ends one stage on the tree it made: its text must fit the output
    // limit. Only a tree whose text is large enough that the next stage
    // could come near the node limit has its text made, and read back in a
    // new stage exactly as the next process would; any other tree is handed
    // on as it is, and its text is only measured, never held.
    Jack_Compiler::ast hand_on(Jack_Compiler::ast tree, const char *what)
    {
        const Jack_Compiler::xml_text_size size = Jack_Compiler::ast_xml_measure(tree, 3);
        check_volume(size.bytes, what);
        if (size.tags < tags_to_hand_on)
            return tree;
        const std::string text = Jack_Compiler::ast_xml_text(tree, 3);
        start_stage();
        return Jack_Compiler::ast_parse_xml(text);
    }

    // The VM code of a class whose tree the front end made without an
    // error, or the end of the program with the report the failing stage
    // gives. The report's context names the file whatever the stage.
    std::string generate(const std::string &path, Jack_Compiler::ast tree, bool fold)
    {
        using namespace Jack_Compiler;
        Lum_IO_Buffers::new_error_context("compiling " + path);
        tree = hand_on(tree, "the tree of the class");
        if (fold)
            tree = hand_on(copy_class(tree), "the folded tree of the class");  // exprfold
        std::string code = vm_code(tree);  // xml2vm
        check_volume(code.size(), "the VM code of the class");
        Lum_IO_Buffers::prune_error_context(0);
        return code;
    }

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

    const std::string jack_extension = ".jack";

    // A name ending in ".jack" that is more than the ending: ".jack" alone
    // names a hidden file with no extension.
    bool is_jack_name(const std::string &name)
    {
        return name.size() > jack_extension.size() &&
               name.compare(name.size() - jack_extension.size(), jack_extension.size(), jack_extension) == 0;
    }

    std::string file_name(const std::string &path)
    {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    // The classes a PATH names: the file itself, or the .jack files directly
    // inside the folder that are (or lead to) regular files, in byte order of
    // their names. The folder is read with the system's own calls: the
    // library's file system layer would bring its locale machinery into the
    // program and a quarter of a megabyte into every run's memory.
    std::vector<std::string> classes_of(const std::string &argument)
    {
        struct stat status;
        if (stat(argument.c_str(), &status) != 0)
            fatal_error(1, "jackc: cannot open " + argument + ": " + std::strerror(errno));
        if (S_ISDIR(status.st_mode))
        {
            DIR *folder = opendir(argument.c_str());
            if (folder == nullptr)
                fatal_error(1, "jackc: cannot read the folder " + argument + ": " + std::strerror(errno));
            const std::string prefix = argument.back() == '/' ? argument : argument + "/";
            std::vector<std::string> names;
            errno = 0;
            while (const dirent *entry = readdir(folder))
            {
                const std::string name = entry->d_name;
                struct stat entry_status;
                if (is_jack_name(name) && stat((prefix + name).c_str(), &entry_status) == 0 &&
                    S_ISREG(entry_status.st_mode))
                    names.push_back(name);
                errno = 0;
            }
            const int error = errno;
            closedir(folder);
            if (error != 0)
                fatal_error(1, "jackc: cannot read the folder " + argument + ": " + std::strerror(error));
            if (names.empty())
                fatal_error(1, "jackc: the folder " + argument + " holds no .jack file");
            std::sort(names.begin(), names.end());
            std::vector<std::string> found;
            for (const std::string &name : names)
                found.push_back(prefix + name);
            return found;
        }
        if (!is_jack_name(file_name(argument)))
            fatal_error(1, "jackc: " + argument + " is neither a .jack file nor a folder");
        return {argument};
    }
}

namespace
{
    const Jack_Command_Line::program_help help = {
        "jackc",
        "jackc [--no-fold] [-Werror] [-w] [--no-checks] PATH...",
        "Compiles Jack classes to VM code. Each PATH is a .jack file or a folder whose\n"
        ".jack files are all taken. Every class is read and checked, alone and against\n"
        "the others and the standard library, and every error and warning is reported\n"
        "on standard error as FILE:LINE:COL: error: MESSAGE with the source line and a\n"
        "caret. When no class has an error, it writes X.vm beside every class X.jack,\n"
        "the same bytes as jack2xml X.jack | exprfold | xml2vm, all in one process;\n"
        "when one has, it writes no .vm file at all.\n",
        "  --no-fold    leave constant expressions as written (jack2xml | xml2vm)\n"
        "  -Werror      make every warning an error\n"
        "  -w           report no warnings\n"
        "  --no-checks  check only the grammar and the names the tree resolves\n",
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

    const char usage[] = "usage: jackc [--no-fold] [-Werror] [-w] [--no-checks] PATH...";
    bool fold = true;
    Jack_Source::diagnostic_options options;
    options.colour = Jack_Source::diagnostics::colour_wanted(stderr);
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++)
    {
        const std::string argument = argv[i];
        if (argument == "--no-fold")
            fold = false;
        else if (Jack_Source::take_diagnostic_option(argument, options))
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

    // Every class is read and checked, whatever an earlier one held; the
    // code of each is made while its tree is at hand, and written only when
    // no class of the run has an error, so that no run can pick up a stale
    // file beside a fresh one.
    Jack_Source::diagnostics diags(options);
    std::vector<std::unique_ptr<Jack_Source::source>> sources;
    std::vector<Jack_Source::class_summary> summaries;
    std::vector<std::string> code;
    try
    {
        for (const std::string &path : classes)
        {
            start_stage();  // jack2xml
            sources.push_back(
                std::make_unique<Jack_Source::source>(path, Jack_Source::read_text_file(path, "jackc")));
            Jack_Source::parser reader(*sources.back(), Jack_Compiler::xml_nesting_limit, diags);
            const Jack_Compiler::ast tree = reader.parse_class();
            summaries.push_back(reader.summary());
            if (diags.errors() == 0)
                code.push_back(generate(path, tree, fold));
        }
        std::vector<const Jack_Source::class_summary *> all;
        for (const Jack_Source::class_summary &summary : summaries)
            all.push_back(&summary);
        Jack_Source::check_program(all, diags, true);
    }
    catch (const Jack_Source::too_many_errors &)
    {
    }
    diags.print("jackc");
    if (diags.errors() > 0)
        return 1;

    for (size_t i = 0; i < classes.size(); i++)
        write_file(classes[i].substr(0, classes[i].size() - jack_extension.size()) + ".vm", code[i]);
    return 0;
}
