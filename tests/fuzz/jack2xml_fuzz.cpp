// jack2xml's reader on arbitrary Jack text, the tree form written from what
// it accepts, and the main job after it: exprfold and xml2jack. A class it
// accepts must also survive the way back: its Jack text, as xml2jack writes
// it, reads again into a tree whose Jack text is the same.
#include "ast/nesting_limit.h"
#include "ast/nodes.h"
#include "ast/syntax_tree.h"
#include "passes/exprfold/copy_tree.h"
#include "passes/exprfold/fold.h"
#include "symbols/variables.h"
#include "tests/fuzz/harness.h"
#include "frontend/parser.h"
#include "frontend/program_checks.h"
#include "tools/xml2jack/jack_writer.h"

#include <string>

using namespace Jack_Compiler;

namespace
{
    // The class's tree, or null when an error was reported; the reports
    // themselves are made as jack2xml makes them.
    ast read_class(const std::string &text)
    {
        const Jack_Source::source src("<stdin>", text);
        Jack_Source::diagnostics diags;
        try
        {
            Jack_Source::parser reader(src, xml_nesting_limit, diags);
            const ast tree = reader.parse_class();
            Jack_Source::check_program({&reader.summary()}, diags, false);
            (void)diags.text("jack2xml");
            return diags.errors() == 0 ? tree : nullptr;
        }
        catch (const Jack_Source::too_many_errors &)
        {
            (void)diags.text("jack2xml");
            return nullptr;
        }
    }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_harness::discard_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reset_tree_library();
    Lum_Symbol_Tables::reset_variables();
    has_calls = false;
    const std::string text(reinterpret_cast<const char *>(data), size);
    bool accepted = false;
    std::string jack;
    fuzz_harness::run([&] {
        const ast tree = read_class(text);
        if (tree == nullptr)
            return;
        ast_print_as_xml(tree, 3);
        Lum_IO_Buffers::print_output();
        jack = Jack_Source::jack_text(tree);
        accepted = true;
        Lum_IO_Buffers::write_to_output(Jack_Source::jack_text(copy_class(tree)));
        Lum_IO_Buffers::print_output();
    });
    if (!accepted)
        return 0;

    // The class read, so writing it as Jack and reading that must not fail.
    fuzz_harness::run([&] {
        try
        {
            const ast again = read_class(jack);
            if (again == nullptr || Jack_Source::jack_text(again) != jack)
            {
                std::fprintf(stderr, "the Jack text of the class reads back differently\n");
                std::abort();
            }
        }
        catch (const Lum_IO_Buffers::process_exit &)
        {
            std::fprintf(stderr, "the Jack text of an accepted class was refused\n");
            std::abort();
        }
    });
    return 0;
}
