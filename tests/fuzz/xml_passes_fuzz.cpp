// The tree form's reader on arbitrary input, and on whatever it accepts the
// writer, both passes and the Jack writer: exprfold, treecopy and xml2jack
// as they run on their standard input.
#include "ast/nodes.h"
#include "ast/syntax_tree.h"
#include "passes/exprfold/copy_tree.h"
#include "passes/exprfold/fold.h"
#include "passes/treecopy/prune.h"
#include "tests/fuzz/harness.h"
#include "tools/xml2jack/jack_writer.h"

using namespace Jack_Compiler;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_harness::discard_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reset_tree_library();
    has_calls = false;
    const fuzz_harness::stdin_from_memory input(data, size);
    fuzz_harness::run([] {
        const ast tree = ast_parse_xml();
        const ast folded = copy_class(tree);
        ast_print_as_xml(folded, 3);
        ast_print_as_xml(prune_class(tree), 3);
        Lum_IO_Buffers::print_output();
        // Last, since a tree that Jack cannot spell ends the run.
        Lum_IO_Buffers::write_to_output(Jack_Source::jack_text(folded));
        Lum_IO_Buffers::print_output();
    });
    return 0;
}
