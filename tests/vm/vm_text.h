// Small VM programs for the runner's tests, written by hand so that the
// tests need no compiler.
#ifndef TESTS_TOOLS_VMRUN_VM_TEXT_H
#define TESTS_TOOLS_VMRUN_VM_TEXT_H

#include "vm/loader.h"
#include "vm/machine.h"

#include <string>
#include <vector>

namespace vmrun_test
{
    // Commands separated by ";" become lines.
    std::string lines(const std::string &commands);

    // A Main.vm whose Main.main runs the commands and returns 0.
    std::string main_of(const std::string &commands);

    struct outcome
    {
        vm_runner::run_status status;
        std::string text;   // what the program printed
        std::string report;
        std::vector<int16_t> ram;
        uint64_t steps;
    };

    // Loads and runs the files in this process; keys is what standard input
    // would hold.
    outcome run_files(const std::vector<vm_runner::source_file> &files, const std::string &keys = "",
                      uint64_t step_limit = 1000000);
    outcome run_main(const std::string &commands, const std::string &keys = "");
}

#endif
