// Runs a program of the tool-chain as a real process: given standard input,
// environment settings and arguments, it captures standard output, standard
// error and how the process ended.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace test_support
{
    struct process_result
    {
        bool exited = false;  // ended through exit or _exit
        int exit_code = -1;   // valid when exited
        int signal = 0;       // the signal that ended it otherwise
        std::string out;      // standard output (and standard error, if merged)
        std::string err;
    };

    struct process_options
    {
        std::string input;
        // Set in the child after the four LUMTOOLS_IOBUFFER_* variables and
        // NO_COLOR have been removed, so that the caller's environment never
        // leaks in.
        std::vector<std::pair<std::string, std::string>> env;
        bool merge_stderr = false;  // standard error into the same pipe as standard output
        bool output_to_pty = false; // standard output is a pseudo-terminal
    };

    process_result run_process(const std::vector<std::string> &argv, const process_options &options = {});

    // Runs body in a forked child of the test process with input on its
    // standard input; returns what it wrote and how it ended. The child ends
    // with status 0 when body returns. The test process's streams, tables
    // and reader state are not touched.
    process_result run_in_child(const std::function<void()> &body, const std::string &input = "");

    // Path of a program built into build/bin.
    std::string program(const std::string &name);

    // Reads a file of the source tree (relative to the repository root).
    std::string source_file(const std::string &relative_path);
}

#endif
