// The code writer on every tree the reader accepts, as read and as folded:
// xml2vm as it runs on its standard input, and the last stage of jackc.
// Whatever it writes must be VM code: each line one command whose words
// the VM language allows, so no value of a tree can break a line apart or
// smuggle a command in.
#include "ast/syntax_tree.h"
#include "passes/exprfold/copy_tree.h"
#include "passes/exprfold/fold.h"
#include "tests/fuzz/harness.h"
#include "codegen/vm_writer.h"

#include <set>
#include <sstream>
#include <string>

using namespace Jack_Compiler;

namespace
{
    bool is_name(const std::string &word)
    {
        if (word.empty() || (word[0] >= '0' && word[0] <= '9'))
            return false;
        for (unsigned char c : word)
            if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == ':'))
                return false;
        return true;
    }

    bool is_index(const std::string &word)
    {
        if (word.empty() || word.size() > 5 || word.find_first_not_of("0123456789") != std::string::npos)
            return false;
        return std::stoi(word) <= 32767;
    }

    bool is_command(const std::string &line)
    {
        static const std::set<std::string> bare = {"add", "sub", "neg", "eq", "gt", "lt", "and", "or", "not",
                                                   "return"};
        static const std::set<std::string> segments = {"argument", "local", "static", "constant",
                                                       "this", "that", "pointer", "temp"};
        std::istringstream words(line);
        std::string op, a, b, rest;
        words >> op >> a >> b >> rest;
        if (!rest.empty() || line != op + (a.empty() ? "" : " " + a) + (b.empty() ? "" : " " + b))
            return false;
        if (bare.count(op))
            return a.empty();
        if (op == "label" || op == "goto" || op == "if-goto")
            return is_name(a) && b.empty();
        if (op == "function" || op == "call")
            return is_name(a) && is_index(b);
        if (op == "push" || op == "pop")
            return segments.count(a) && is_index(b) && !(op == "pop" && a == "constant") &&
                   (a != "pointer" || std::stoi(b) <= 1) && (a != "temp" || std::stoi(b) <= 7);
        return false;
    }

    void check_vm(const std::string &code)
    {
        if (!code.empty() && code.back() != '\n')
            std::abort();
        std::istringstream lines(code);
        std::string line;
        while (std::getline(lines, line))
            if (!is_command(line))
                std::abort();
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
    has_calls = false;
    const fuzz_harness::stdin_from_memory input(data, size);
    fuzz_harness::run([] {
        const ast tree = ast_parse_xml();
        const std::string folded = vm_code(copy_class(tree));
        check_vm(folded);
        Lum_IO_Buffers::write_to_output(folded);
        const std::string code = vm_code(tree);
        check_vm(code);
        Lum_IO_Buffers::write_to_output(code);
        Lum_IO_Buffers::print_output();
    });
    return 0;
}
