// A program that drives the streams from its arguments, one operation per
// argument, so that tests can run any sequence in a real process with a real
// environment. Texts may hold \n, \t and \\ escapes.
//
//   out=T err=T trace=T log=T          write T to a stream
//   cfg-out=N cfg-err=N cfg-trace=N cfg-log=N   configure with option N
//   prefix-trace=T prefix-log=T        replace a prefix
//   print-out print-err erase-out erase-err
//   push=T                             push an error context
//   bulk-out=N                         write N bytes of 'x' to output in pieces
//   fatal=S:T fatal-status=S fatal-message=T
//   raw-out=T raw-err=T                write T to descriptor 1 or 2 directly
//   abort                              end through SIGABRT, as a crash would
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace Lum_IO_Buffers;

static std::string unescape(const std::string &text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); i++)
    {
        if (text[i] != '\\' || i + 1 == text.size())
        {
            result += text[i];
            continue;
        }
        char c = text[++i];
        result += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return result;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
    {
        const std::string arg = argv[i];
        const size_t equals = arg.find('=');
        const std::string op = arg.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : unescape(arg.substr(equals + 1));
        const int number = std::atoi(value.c_str());
        if (op == "out") write_to_output(value);
        else if (op == "err") write_to_errors(value);
        else if (op == "trace") write_to_traces(value);
        else if (op == "log") write_to_logs(value);
        else if (op == "cfg-out") config_output(static_cast<iob_option>(number));
        else if (op == "cfg-err") config_errors(static_cast<iob_option>(number));
        else if (op == "cfg-trace") config_traces(static_cast<iob_option>(number));
        else if (op == "cfg-log") config_logs(static_cast<iob_option>(number));
        else if (op == "prefix-trace") prefix_traces(value);
        else if (op == "prefix-log") prefix_logs(value);
        else if (op == "print-out") print_output();
        else if (op == "print-err") print_errors();
        else if (op == "erase-out") erase_output();
        else if (op == "erase-err") erase_errors();
        else if (op == "push") push_error_context(value);
        else if (op == "bulk-out")
        {
            const std::string piece(4096, 'x');
            for (long left = std::atol(value.c_str()); left > 0; left -= 4096)
                write_to_output(left >= 4096 ? piece : piece.substr(0, left));
        }
        else if (op == "fatal")
        {
            const size_t colon = value.find(':');
            fatal_error(std::atoi(value.substr(0, colon).c_str()), value.substr(colon + 1));
        }
        else if (op == "raw-out" || op == "raw-err")
        {
            if (write(op == "raw-out" ? 1 : 2, value.data(), value.size()) != static_cast<ssize_t>(value.size()))
                return 2;
        }
        else if (op == "abort") std::abort();
        else if (op == "fatal-status") fatal_error(number);
        else if (op == "fatal-message") fatal_error(value);
        else
        {
            std::fprintf(stderr, "iob_probe: unknown operation %s\n", arg.c_str());
            return 2;
        }
    }
    return 0;
}
