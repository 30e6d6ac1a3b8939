#include "iobuffer/iobuffer.h"
#include "iobuffer/error_context.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unistd.h>
#include <vector>

namespace Lum_IO_Buffers
{
    namespace
    {
        // Output and errors together may not exceed this many bytes: a
        // runaway program is stopped before it fills a disk.
        const long long output_volume_limit = 10485760;

        // One of the two streams that reach a file descriptor.
        struct text_stream
        {
            explicit text_stream(FILE *f) : file(f) {}
            FILE *file;
            std::string held;       // text held while buffered
            bool newline = true;    // the last non-empty text ended a line
            bool loud = false;      // a fatal error prints the held text
            bool disabled = false;
            bool buffered = false;
            bool configurable = true;
        };

        // One of the two streams that write lines into another stream.
        struct line_stream
        {
            line_stream(text_stream &t, std::string p) : target(t), prefix(std::move(p)) {}
            text_stream &target;
            std::string prefix;
            bool disabled = false;
            bool not_permitted = false;
            bool configurable = true;
        };

        // Created on first use and never destroyed, so that a fatal error can
        // still use them from anywhere, even while statics are torn down.
        struct streams
        {
            text_stream output{stdout};
            text_stream errors{stderr};
            line_stream traces{output, "*** write_to_traces: "};
            line_stream logs{errors, "*** write_to_logs: "};
            bool errors_quiet = false;
            bool errors_no_context = false;
            long long total_output = 0;
        };

        streams *&state_pointer()
        {
            static streams *s = new streams();
            return s;
        }

        streams &state()
        {
            return *state_pointer();
        }

        bool initialised = false;

        // Text that reaches a descriptor is flushed at once: whatever the
        // program does next (abort, fork, be killed, write to a descriptor
        // itself), the text it has handed over is out, in order. Standard
        // output is also flushed before standard error is written, for
        // programs that write to it by other means too.
        void write_bytes(FILE *file, const std::string &text)
        {
            if (file == stderr)
                std::fflush(stdout);
            std::fwrite(text.data(), 1, text.size(), file);
            std::fflush(file);
        }

        // Text that never reached standard output (a full disk, a closed
        // descriptor) must not end in a run that looks successful; only a
        // fatal error, whose own status and report must stand, passes
        // check_written false.
        void print_held(text_stream &stream, bool check_written = true)
        {
            write_bytes(stream.file, stream.held);
            stream.held.clear();
            if (check_written && stream.file == stdout && std::ferror(stdout))
            {
                const int error = errno;
                std::clearerr(stdout);
                fatal_error(1, std::string("cannot write standard output: ") + std::strerror(error));
            }
        }

        void flush_if_held(text_stream &stream)
        {
            if (!stream.held.empty())
                print_held(stream);
        }

        [[noreturn]] void end_process(int status)
        {
            std::fflush(stdout);
            std::fflush(stderr);
#ifdef JACK_FUZZING
            throw process_exit{status & 0xFF};
#else
            _exit(status);
#endif
        }

        void write_to_stream(text_stream &stream, const std::string &text)
        {
            if (text.empty())
                return;
            stream.newline = text.back() == '\n';
            if (stream.buffered)
                stream.held += text;
            else
                write_bytes(stream.file, text);

            streams &s = state();
            s.total_output += static_cast<long long>(text.size());
            if (s.total_output > output_volume_limit)
            {
                write_bytes(stderr, "Output written to the output and errors buffers has exceeded 10MB - "
                                    "the largest output correct is less than half this size.\n");
                write_bytes(stderr, "Your program will now exit.\n");
                end_process(1);
            }
        }

        void write_line(line_stream &stream, std::string text, const char *caller)
        {
            if (stream.not_permitted)
                fatal_error(1, std::string("called ") + caller + "(...)");
            if (stream.disabled)
                return;
            if (!stream.prefix.empty())
            {
                if (!stream.target.newline)
                    write_to_stream(stream.target, "\n");
                text = stream.prefix + text + "\n";
            }
            write_to_stream(stream.target, text);
        }

        void initialise();

        // The output and errors streams share every option but the ones that
        // touch the errors stream's report settings.
        void configure_text_stream(text_stream &stream, iob_option option, bool is_errors)
        {
            initialise();
            if (!stream.configurable)
                return;
            streams &s = state();
            switch (option)
            {
            case iob_enable:
                stream.disabled = false;
                return;
            case iob_disable:
                stream.disabled = true;
                return;
            case iob_buffer:
                stream.disabled = false;
                stream.buffered = true;
                stream.loud = false;
                if (is_errors)
                    s.errors_quiet = true;
                return;
            case iob_loud_buffer:
                stream.disabled = false;
                stream.buffered = true;
                stream.loud = true;
                if (is_errors)
                    s.errors_quiet = false;
                return;
            case iob_buffer_why:
                if (is_errors)
                {
                    stream.disabled = false;
                    stream.buffered = true;
                    s.errors_quiet = false;
                    return;
                }
                break;
            case iob_context:
                if (is_errors)
                {
                    s.errors_no_context = false;
                    return;
                }
                break;
            case iob_no_context:
                if (is_errors)
                {
                    s.errors_no_context = true;
                    return;
                }
                break;
            default:
                break;
            }
            // iob_immediate, iob_not_permitted, iob_default and anything else.
            flush_if_held(stream);
            stream.disabled = false;
            stream.buffered = false;
            stream.loud = false;
            if (is_errors)
                s.errors_quiet = false;
        }

        void configure_line_stream(line_stream &stream, iob_option option)
        {
            initialise();
            if (!stream.configurable)
                return;
            if (option == iob_disable)
                stream.disabled = true;
            else if (option == iob_not_permitted)
                stream.not_permitted = true;
            else
                stream.disabled = false;
        }

        iob_option option_named(const std::string &name)
        {
            static const struct
            {
                const char *name;
                iob_option option;
            } names[] = {
                {"iob_enable", iob_enable},       {"iob_disable", iob_disable},
                {"iob_not_permitted", iob_not_permitted},
                {"iob_buffer", iob_buffer},       {"iob_loud_buffer", iob_loud_buffer},
                {"iob_immediate", iob_immediate}, {"iob_buffer_why", iob_buffer_why},
                {"iob_context", iob_context},     {"iob_no_context", iob_no_context},
            };
            for (const auto &entry : names)
                if (name == entry.name)
                    return entry.option;
            return iob_default;
        }

        // Applies the options named in one environment variable; a variable
        // that names at least one option locks out the program's own calls.
        void initialise_config(const char *variable, void (*configure)(iob_option), bool &configurable)
        {
            const char *value = std::getenv(variable);
            if (value == nullptr || *value == '\0')
                return;

            const std::string rest = value;
            size_t start = 0;
            std::vector<iob_option> collected;
            while (start <= rest.size())
            {
                size_t colon = rest.find(':', start);
                if (colon == std::string::npos)
                    colon = rest.size();
                if (colon > start)
                    collected.push_back(option_named(rest.substr(start, colon - start)));
                start = colon + 1;
            }
            for (iob_option option : collected)
                configure(option);
            if (!collected.empty())
                configurable = false;
        }

        void initialise()
        {
            if (initialised)
                return;
            initialised = true;
            streams &s = state();
            initialise_config("LUMTOOLS_IOBUFFER_OUTPUT", config_output, s.output.configurable);
            initialise_config("LUMTOOLS_IOBUFFER_TRACES", config_traces, s.traces.configurable);
            initialise_config("LUMTOOLS_IOBUFFER_ERRORS", config_errors, s.errors.configurable);
            initialise_config("LUMTOOLS_IOBUFFER_LOGS", config_logs, s.logs.configurable);
        }
    }

    void write_to_output(std::string text)
    {
        initialise();
        if (!state().output.disabled)
            write_to_stream(state().output, text);
    }

    void print_output()
    {
        initialise();
        print_held(state().output);
    }

    void erase_output()
    {
        initialise();
        state().output.held.clear();
    }

    void config_output(iob_option option)
    {
        configure_text_stream(state().output, option, false);
    }

    void write_to_errors(std::string text)
    {
        initialise();
        if (!state().errors.disabled)
            write_to_stream(state().errors, text);
    }

    void print_errors()
    {
        initialise();
        print_held(state().errors);
    }

    void erase_errors()
    {
        initialise();
        state().errors.held.clear();
    }

    void config_errors(iob_option option)
    {
        configure_text_stream(state().errors, option, true);
    }

    void write_to_traces(std::string text)
    {
        initialise();
        write_line(state().traces, std::move(text), "write_to_traces");
    }

    void prefix_traces(std::string prefix)
    {
        state().traces.prefix = std::move(prefix);
    }

    void config_traces(iob_option option)
    {
        configure_line_stream(state().traces, option);
    }

    void write_to_logs(std::string text)
    {
        initialise();
        write_line(state().logs, std::move(text), "write_to_logs");
    }

    void prefix_logs(std::string prefix)
    {
        state().logs.prefix = std::move(prefix);
    }

    void config_logs(iob_option option)
    {
        configure_line_stream(state().logs, option);
    }

    void fatal_error(int status, std::string message)
    {
        initialise();
        streams &s = state();
        if (s.output.loud)
            print_held(s.output, false);
        if (s.errors.loud)
            print_held(s.errors, false);

        // The report goes straight to standard error: it does not count
        // towards the output volume and is not held by a buffered stream.
        if (!message.empty() && !s.errors_quiet)
        {
            if (message.back() != '\n')
                message += '\n';
            std::string report;
            if (!s.errors_no_context)
                report = construct_error_context();
            report += message;
            report += '\n';
            write_bytes(stderr, report);
        }
        end_process(status);
    }

    long long output_volume_left()
    {
        initialise();
        const streams &s = state();
        if (s.output.disabled)
            return std::numeric_limits<long long>::max();
        return output_volume_limit - s.total_output;
    }

    void fatal_error(int status)
    {
        fatal_error(status, "");
    }

    void fatal_error(std::string message)
    {
        fatal_error(1, std::move(message));
    }

#ifdef JACK_FUZZING
    void reset_streams()
    {
        delete state_pointer();
        state_pointer() = new streams();
        initialised = false;
    }
#endif
}
