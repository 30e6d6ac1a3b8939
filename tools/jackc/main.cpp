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
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"
#include "passes/exprfold/copy_tree.h"
#include "passes/exprfold/fold.h"
#include "symbols/variables.h"
#include "tools/jack2xml/parser.h"
#include "tools/xml2vm/vm_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
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

    std::string held_to_limit(std::string text, const char *what)
    {
        if (text.size() > output_volume_limit)
            fatal_error(1, std::string("jackc: ") + what + " is larger than the output limit of 10,485,760 bytes");
        return text;
    }

    // A tree text of fewer tags than this is read by at most 3 nodes (and
    // annotation sets) per element, about 75,000, and neither folding nor
    // the code writer makes more than a few times its nodes: far from the
    // limit of 1,000,000 in any stage, so the tree may be handed on.
    const size_t tags_to_hand_on = 50000;

    bool far_from_node_limit(const std::string &tree_text)
    {
        return static_cast<size_t>(std::count(tree_text.begin(), tree_text.end(), '<')) < tags_to_hand_on;
    }

    // The VM code of the class in the file at path, or the end of the
    // program with the report the failing stage gives. The report's context
    // names the file whatever the stage.
    std::string compile(const std::string &path, bool fold)
    {
        using namespace Jack_Compiler;
        Lum_IO_Buffers::new_error_context("compiling " + path);

        start_stage();  // jack2xml
        std::string text;
        ast tree;
        {
            const Jack_Source::source src(path, Jack_Source::read_text_file(path, "jackc"));
            Jack_Source::parser reader(src, xml_nesting_limit);
            tree = reader.parse_class();
            text = held_to_limit(ast_xml_text(tree, 3), "the tree of the class");
        }
        if (fold)
        {
            // exprfold
            if (!far_from_node_limit(text))
            {
                start_stage();
                tree = ast_parse_xml(text);
            }
            tree = copy_class(tree);
            text = held_to_limit(ast_xml_text(tree, 3), "the folded tree of the class");
        }
        // xml2vm
        if (!far_from_node_limit(text))
        {
            start_stage();
            tree = ast_parse_xml(text);
        }
        std::string code = held_to_limit(vm_code(tree), "the VM code of the class");

        Lum_IO_Buffers::prune_error_context(0);
        return code;
    }

    // Writes text to path in full or not at all: into a new file beside it,
    // which then takes its place.
    void write_file(const fs::path &path, const std::string &text)
    {
        const std::string target = path.string();
        const std::string temporary =
            (path.parent_path() / ("." + path.filename().string() + "." + std::to_string(getpid()) + ".tmp")).string();
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
        if (close(fd) != 0 || error != 0 || std::rename(temporary.c_str(), target.c_str()) != 0)
        {
            const int reason = error != 0 ? error : errno;
            unlink(temporary.c_str());
            fatal_error(1, "jackc: cannot write " + target + ": " + std::strerror(reason));
        }
    }

    bool is_jack_file(const fs::path &path)
    {
        return path.extension() == ".jack";
    }

    // The classes a PATH names: the file itself, or the .jack files directly
    // inside the folder, in byte order of their names.
    std::vector<fs::path> classes_of(const std::string &argument)
    {
        std::error_code error;
        const fs::path path(argument);
        const fs::file_status status = fs::status(path, error);
        if (error)
            fatal_error(1, "jackc: cannot open " + argument + ": " + error.message());
        if (fs::is_directory(status))
        {
            std::vector<fs::path> found;
            for (fs::directory_iterator entry(path, error), end; !error && entry != end; entry.increment(error))
                if (is_jack_file(entry->path()) && fs::is_regular_file(entry->status()))
                    found.push_back(entry->path());
            if (error)
                fatal_error(1, "jackc: cannot read the folder " + argument + ": " + error.message());
            if (found.empty())
                fatal_error(1, "jackc: the folder " + argument + " holds no .jack file");
            std::sort(found.begin(), found.end(),
                      [](const fs::path &a, const fs::path &b) { return a.filename().string() < b.filename().string(); });
            return found;
        }
        if (!is_jack_file(path))
            fatal_error(1, "jackc: " + argument + " is neither a .jack file nor a folder");
        return {path};
    }
}

int main(int argc, char **argv)
{
    bool fold = true;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++)
    {
        const std::string argument = argv[i];
        if (argument == "--no-fold")
            fold = false;
        else if (argument.size() > 1 && argument[0] == '-')
            fatal_error(1, "jackc: unknown option " + argument + "\nusage: jackc [--no-fold] PATH...");
        else
            paths.push_back(argument);
    }
    if (paths.empty())
        fatal_error(1, "usage: jackc [--no-fold] PATH...");

    // Every PATH is looked at before anything is compiled, so a mistyped
    // one costs no work and leaves no files.
    std::vector<fs::path> classes;
    for (const std::string &path : paths)
        for (const fs::path &found : classes_of(path))
            classes.push_back(found);

    for (const fs::path &source : classes)
    {
        fs::path target = source;
        target.replace_extension(".vm");
        write_file(target, compile(source.string(), fold));
    }
    return 0;
}
