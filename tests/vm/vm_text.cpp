#include "tests/vm/vm_text.h"

#include <cstdio>

namespace vmrun_test
{
    std::string lines(const std::string &commands)
    {
        std::string out;
        for (char c : commands)
            out += c == ';' ? '\n' : c;
        return out + "\n";
    }

    std::string main_of(const std::string &commands)
    {
        return "function Main.main 0\n" + lines(commands) + "push constant 0\nreturn\n";
    }

    outcome run_files(const std::vector<vm_runner::source_file> &files, const std::string &keys, uint64_t step_limit)
    {
        const vm_runner::program p = vm_runner::load_program(files);
        vm_runner::run_options options;
        options.step_limit = step_limit;
        std::string input = keys;
        std::FILE *in = fmemopen(input.empty() ? nullptr : &input[0], input.size(), "r");
        options.keyboard_input = input.empty() ? nullptr : in;
        vm_runner::machine m(p, options);
        outcome o;
        o.status = m.run();
        if (in)
            std::fclose(in);
        o.text = m.text();
        o.report = m.report();
        o.ram.assign(m.memory(), m.memory() + vm_runner::ram_size);
        o.steps = m.steps();
        return o;
    }

    outcome run_main(const std::string &commands, const std::string &keys)
    {
        return run_files({{"Main.vm", main_of(commands)}}, keys);
    }
}
