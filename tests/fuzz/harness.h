// What the fuzz targets share. They are built with JACK_FUZZING, so a fatal
// error throws process_exit instead of ending the process, and every input
// runs in the fuzzer's own process: each one starts from freshly reset state,
// reads its bytes through standard input, and is judged by how the program
// would have ended.
#ifndef TESTS_FUZZ_HARNESS_H
#define TESTS_FUZZ_HARNESS_H

#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace fuzz_harness
{
    // The programs' results would swamp the fuzzer's own report; they are
    // still written, through the same code, but into /dev/null.
    inline void discard_standard_output()
    {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, 1) < 0)
            std::abort();
        close(null);
    }

    // Standard input reads the given bytes for as long as this lives. The
    // C library lets stdin be replaced; the readers all go through it.
    class stdin_from_memory
    {
    public:
        stdin_from_memory(const uint8_t *data, size_t size) : saved_(stdin)
        {
            static char nothing[1];
            void *bytes = size == 0 ? static_cast<void *>(nothing) : const_cast<uint8_t *>(data);
            stream_ = fmemopen(bytes, size, "rb");
            if (stream_ == nullptr)
                std::abort();
            stdin = stream_;
        }
        ~stdin_from_memory()
        {
            stdin = saved_;
            std::fclose(stream_);
        }
        stdin_from_memory(const stdin_from_memory &) = delete;
        stdin_from_memory &operator=(const stdin_from_memory &) = delete;

    private:
        std::FILE *saved_;
        std::FILE *stream_;
    };

    // Runs one input through body, with the streams and the error context
    // as a new process has them, and returns the exit status the process
    // would have had. Ending through fatal_error with status 1 (bad input)
    // or 255 (a table limit) is a handled input; any other status, 0 above
    // all, would be a failure passed off as something else, and is reported
    // as a crash.
    template <typename Body>
    int run(Body body)
    {
        Lum_IO_Buffers::reset_streams();
        Lum_IO_Buffers::prune_error_context(0);
        int status = 0;
        try
        {
            body();
        }
        catch (const Lum_IO_Buffers::process_exit &end)
        {
            if (end.status != 1 && end.status != 255)
            {
                std::fprintf(stderr, "fatal error with exit status %d\n", end.status);
                std::abort();
            }
            status = end.status;
        }
        std::fflush(stdout);
        return status;
    }
}

#endif
