// The four text streams of every program of the tool-chain, and the one way
// any part of the system ends the process on an unrecoverable error.
//
//   output  reaches standard output
//   errors  reaches standard error
//   traces  lines written into the output stream
//   logs    lines written into the errors stream
//
// By default every stream is on and writes at once. The environment variables
// LUMTOOLS_IOBUFFER_OUTPUT, LUMTOOLS_IOBUFFER_TRACES, LUMTOOLS_IOBUFFER_ERRORS
// and LUMTOOLS_IOBUFFER_LOGS (colon-separated iob_option names, read once at
// the first stream operation) override the program's own configuration.
#ifndef IOBUFFER_IOBUFFER_H
#define IOBUFFER_IOBUFFER_H

#include <string>

namespace Lum_IO_Buffers
{
    // The values are fixed: the environment parser maps names to them.
    enum iob_option
    {
        iob_default = 0,
        iob_enable = 1,
        iob_disable = 2,
        iob_not_permitted = 3,
        iob_buffer = 4,
        iob_loud_buffer = 5,
        iob_immediate = 6,
        iob_buffer_why = 7,
        iob_context = 8,
        iob_no_context = 9
    };

    void write_to_output(std::string text);
    void print_output();  // writes whatever is held to standard output, then erases it
    void erase_output();
    void config_output(iob_option option);

    void write_to_errors(std::string text);
    void print_errors();  // writes whatever is held to standard error, then erases it
    void erase_errors();
    void config_errors(iob_option option);

    void write_to_traces(std::string text);
    void prefix_traces(std::string prefix);
    void config_traces(iob_option option);

    void write_to_logs(std::string text);
    void prefix_logs(std::string prefix);
    void config_logs(iob_option option);

    // How many more bytes write_to_output takes before the output volume
    // limit ends the process (the largest long long while the output stream
    // drops its text). A writer that gathers its pieces uses it to hand over
    // the piece that crosses the limit on its own, so that the output stops
    // exactly where one write per piece would stop it.
    long long output_volume_left();

    // Prints the report (held loud buffers, the error context, the message)
    // as the stream settings say and ends the process at once, without exit
    // handlers, with the given status (-1 gives 255).
    [[noreturn]] void fatal_error(int status, std::string message);
    [[noreturn]] void fatal_error(int status);
    // A failure without a status of its own exits with 1.
    [[noreturn]] void fatal_error(std::string message);

#ifdef JACK_FUZZING
    // Fuzzing builds only: a fuzzer runs every input in one process, so the
    // ends of the process (fatal_error, the output volume limit) throw this
    // instead, carrying the exit status the process would have had (0 to
    // 255), and reset_streams() returns the streams to their state at program
    // start before the next input.
    struct process_exit
    {
        int status;
    };
    void reset_streams();
#endif
}

#endif
