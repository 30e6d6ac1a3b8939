// vmrun's loader on random and mutated VM text: up to three files, split at
// NUL bytes. A program that loads also runs, under a step limit and with no
// keys to read: a load error or any end of the run is a handled input, a
// crash or a sanitizer report a finding.
#include "vm/loader.h"
#include "vm/machine.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const names[] = {"Main.vm", "Sys.vm", "Memory.vm"};
    std::vector<vm_runner::source_file> files;
    std::string text;
    for (size_t i = 0; i <= size; ++i)
    {
        if (i == size || (data[i] == 0 && files.size() < 2))
        {
            files.push_back({names[files.size()], text});
            text.clear();
        }
        else
            text += static_cast<char>(data[i]);
    }
    vm_runner::program p;
    try
    {
        p = vm_runner::load_program(files);
    }
    catch (const vm_runner::load_error &)
    {
        return 0;
    }
    static std::FILE *const null = std::fopen("/dev/null", "w");
    vm_runner::run_options options;
    options.step_limit = 5000; // a step of library work can be 32767 characters printed
    options.text_output = null;
    vm_runner::machine m(p, options);
    m.run();
    return 0;
}
