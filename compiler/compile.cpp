#include "compiler/compile.h"

#include "ast/nesting_limit.h"
#include "ast/syntax_tree.h"
#include "codegen/vm_writer.h"
#include "frontend/parser.h"
#include "frontend/program_checks.h"
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"
#include "passes/exprfold/copy_tree.h"
#include "passes/exprfold/fold.h"
#include "symbols/variables.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

// Each stage is held to the limits of its own process in the pipeline. The
// text each stage writes is held to the output volume limit. A stage that
// could come near the node limit runs exactly as its process would: from
// empty object tables (nodes, annotation sets, variable objects), reading
// the text the stage before it wrote. So a class meets the node limit once
// in each stage, exactly where the pipeline would stop, and nothing is
// carried from one class to the next.
//
// Reading a tree back is most of the work of a stage, and for the trees of
// ordinary classes it is wasted: the reader builds from a tree's text the
// very tree that was written, so the next stage may take the tree itself.
// It does so only while the text holds so few elements that neither the
// reader nor the stage could make a tenth of the node limit; the tests
// compare both ways with the pipeline.

using Jack_Compiler_Driver::compile_options;
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

    void check_volume(size_t bytes, const char *what, const std::string &program)
    {
        if (bytes > output_volume_limit)
            fatal_error(1, program + ": " + what + " is larger than the output limit of 10,485,760 bytes");
    }

    // Ends one stage on the tree it made: its text must fit the output
    // limit. Only a tree whose text is large enough that the next stage
    // could come near the node limit has its text made, and read back in a
    // new stage exactly as the next process would; any other tree is handed
    // on as it is, and its text is only measured, never held.
    Jack_Compiler::ast hand_on(Jack_Compiler::ast tree, const char *what, const std::string &program)
    {
        const Jack_Compiler::xml_text_size size = Jack_Compiler::ast_xml_measure(tree, 3);
        check_volume(size.bytes, what, program);
        if (size.tags < tags_to_hand_on)
            return tree;
        const std::string text = Jack_Compiler::ast_xml_text(tree, 3);
        start_stage();
        return Jack_Compiler::ast_parse_xml(text);
    }

    // The VM code of a class whose tree the front end made without an
    // error, or the end of the program with the report the failing stage
    // gives. The report's context names the file whatever the stage.
    std::string generate(const std::string &path, Jack_Compiler::ast tree, const compile_options &options,
                         const Jack_Compiler::vm_marks *marks)
    {
        using namespace Jack_Compiler;
        Lum_IO_Buffers::new_error_context("compiling " + path);
        tree = hand_on(tree, "the tree of the class", options.program);
        if (options.fold)
            tree = hand_on(copy_class(tree), "the folded tree of the class", options.program);  // exprfold
        std::string code = vm_code(tree, marks);  // xml2vm
        check_volume(code.size(), "the VM code of the class", options.program);
        Lum_IO_Buffers::prune_error_context(0);
        return code;
    }


    std::string base_name(const std::string &path)
    {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    Jack_Compiler::vm_marks marks_of(const std::string &path, const Jack_Source::parser &reader)
    {
        Jack_Compiler::vm_marks marks;
        marks.file = base_name(path);
        for (const Jack_Source::position &p : reader.subroutine_places())
            marks.subroutines.push_back({p.line, p.column});
        for (const Jack_Source::position &p : reader.statement_places())
            marks.statements.push_back({p.line, p.column});
        return marks;
    }
}

namespace Jack_Compiler_Driver
{
    compile_result compile_classes(const std::vector<std::string> &paths, const compile_options &options)
    {
        compile_result result;
        Jack_Source::diagnostics diags(options.diagnostics);
        std::vector<std::unique_ptr<Jack_Source::source>> sources;
        std::vector<Jack_Source::class_summary> summaries;
        try
        {
            for (const std::string &path : paths)
            {
                start_stage();  // jack2xml
                sources.push_back(std::make_unique<Jack_Source::source>(
                    path, Jack_Source::read_text_file(path, options.program)));
                Jack_Source::parser reader(*sources.back(), Jack_Compiler::xml_nesting_limit, diags);
                const Jack_Compiler::ast tree = reader.parse_class();
                summaries.push_back(reader.summary());
                if (diags.errors() == 0)
                {
                    const Jack_Compiler::vm_marks marks = marks_of(path, reader);
                    result.code.push_back(generate(path, tree, options, options.marks ? &marks : nullptr));
                }
            }
            std::vector<const Jack_Source::class_summary *> all;
            for (const Jack_Source::class_summary &summary : summaries)
                all.push_back(&summary);
            Jack_Source::check_program(all, diags, true);
        }
        catch (const Jack_Source::too_many_errors &)
        {
        }
        result.errors = diags.errors();
        result.report = diags.text(options.program);
        if (result.errors > 0)
            result.code.clear();
        return result;
    }

    bool is_jack_name(const std::string &name)
    {
        const std::string extension = ".jack";
        return name.size() > extension.size() &&
               name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
    }

    // The folder is read with the system's own calls: the library's file
    // system layer would bring its locale machinery into the program and a
    // quarter of a megabyte into every run's memory.
    std::vector<std::string> jack_files_in(const std::string &folder)
    {
        DIR *dir = opendir(folder.c_str());
        if (dir == nullptr)
            throw folder_error("cannot read the folder " + folder + ": " + std::strerror(errno));
        const std::string prefix = folder.back() == '/' ? folder : folder + "/";
        std::vector<std::string> names;
        errno = 0;
        while (const dirent *entry = readdir(dir))
        {
            const std::string name = entry->d_name;
            struct stat entry_status;
            if (is_jack_name(name) && stat((prefix + name).c_str(), &entry_status) == 0 &&
                S_ISREG(entry_status.st_mode))
                names.push_back(name);
            errno = 0;
        }
        const int error = errno;
        closedir(dir);
        if (error != 0)
            throw folder_error("cannot read the folder " + folder + ": " + std::strerror(error));
        std::sort(names.begin(), names.end());
        std::vector<std::string> found;
        for (const std::string &name : names)
            found.push_back(prefix + name);
        return found;
    }
}
