#include "tests/passes/pass_programs.h"

#include "iobuffer/iobuffer.h"
#include "tests/passes/notation.h"
#include "tests/support/random_tree.h"

#include <algorithm>
#include <stdexcept>

namespace test_support
{
    process_result run_pass(const std::string &name, const std::string &input,
                            const std::vector<std::string> &arguments)
    {
        std::vector<std::string> argv{program(name)};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        process_options options;
        options.input = input;
        return run_process(argv, options);
    }

    std::string class_xml(const std::string &notation, int step_width)
    {
        const process_result r = run_in_child([&] {
            Jack_Compiler::ast_print_as_xml(parse_class(notation), step_width);
            Lum_IO_Buffers::print_output();
        });
        if (!r.exited || r.exit_code != 0 || !r.err.empty())
            throw std::runtime_error("cannot write the class: " + r.err);
        return r.out;
    }

    int xml_depth(const std::string &xml)
    {
        int depth = 0, deepest = 0;
        for (size_t i = xml.find('<'); i != std::string::npos; i = xml.find('<', i + 1))
        {
            if (xml.compare(i, 2, "</") == 0)
                depth--;
            else
                deepest = std::max(deepest, ++depth);
        }
        return deepest;
    }

}
