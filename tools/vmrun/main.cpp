// vmrun: loads and checks a VM program, then runs it with the standard
// library built in; its text on standard output, its keys from standard
// input and a key script, its screen as a PNG.
//
//   vmrun [--steps N] [--screen FILE.png] [--keys FILE] [--stats] [--serve[=ADDR:PORT]] PATH...
#include "cli/standard_options.h"
#ifdef JACK_HAVE_SERVE
#include "serve/server.h"
#endif
#include "vm/key_script.h"
#include "vm/loader.h"
#include "vm/machine.h"
#include "vm/png_writer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

using namespace vm_runner;

namespace
{
    const char usage[] =
        "usage: vmrun [--steps N] [--screen FILE.png] [--keys FILE] [--stats] [--serve[=ADDR:PORT]] PATH...\n";

    const Jack_Command_Line::program_help help = {
        "vmrun",
        "vmrun [--steps N] [--screen FILE.png] [--keys FILE] [--stats] [--serve[=ADDR:PORT]] PATH...",
        "Loads and checks the VM program in the .vm files named, or in the named\n"
        "folders, then runs it with the standard library of Jack built in. Its text\n"
        "goes to standard output, its keys come from standard input (each byte a key)\n"
        "and from a key script, and its screen can be written as a PNG image.\n",
        "  --steps N          stop after exactly N steps (status 2)\n"
        "  --screen FILE.png  write the 512 x 256 screen at the end, whatever ended it\n"
        "  --keys FILE        key script: lines \"STEP CODE\", the key held from then on\n"
        "  --stats            steps, calls, deepest stack, heap, time on standard error\n"
        "  --serve[=ADDR:PORT]\n"
        "                     run live in a web page on ADDR:PORT (default\n"
        "                     127.0.0.1:8080, port 0 any free one) until Ctrl-C: the\n"
        "                     screen, the text, the keys held in the page; run, pause,\n"
        "                     step, restart\n",
        "Any other argument starting with \"-\" is an error.\n",
        "  0    Sys.halt was called or Sys.init returned\n"
        "  1    a load error, a usage error, a fault, Sys.error, or a file that cannot\n"
        "       be read or written\n"
        "  2    the step limit of --steps\n"
        "  3    a key was wanted after the end of standard input\n"
        "  130  SIGINT (Ctrl-C) ended --serve\n"
        "  143  SIGTERM ended --serve\n",
        "",
    };

    bool write_screen(const std::string &path, const int16_t *memory)
    {
        const std::string png = screen_png(memory);
        std::ofstream out(path, std::ios::binary);
        out.write(png.data(), static_cast<std::streamsize>(png.size()));
        out.close();
        if (!out)
            std::fprintf(stderr, "vmrun: %s: cannot be written\n", path.c_str());
        return static_cast<bool>(out);
    }

    [[noreturn]] void fail(const std::string &message)
    {
        std::fprintf(stderr, "vmrun: %s\n", message.c_str());
        std::exit(1);
    }
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);

    run_options options;
    std::string screen_path, keys_path;
    bool stats = false;
    bool serve = false;
    std::string serve_at = "127.0.0.1:8080";
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail(arg + " needs a value\n" + usage);
            return argv[++i];
        };
        if (arg == "--steps")
        {
            const std::string n = value();
            char *end = nullptr;
            errno = 0;
            const unsigned long long steps = std::strtoull(n.c_str(), &end, 10);
            if (n.empty() || n[0] < '0' || n[0] > '9' || *end != '\0' || errno == ERANGE)
                fail("--steps: expected a step count but found \"" + n + "\"");
            options.step_limit = steps;
        }
        else if (arg == "--screen")
            screen_path = value();
        else if (arg == "--keys")
            keys_path = value();
        else if (arg == "--stats")
            stats = true;
        else if (arg == "--serve" || arg.rfind("--serve=", 0) == 0)
        {
            serve = true;
            if (arg != "--serve")
                serve_at = arg.substr(8);
        }
        else if (arg.size() > 1 && arg[0] == '-')
            fail("unknown option " + arg + "\n" + usage);
        else
            paths.push_back(arg);
    }
    if (paths.empty())
        fail(std::string("no program to run\n") + usage);
#ifdef JACK_HAVE_SERVE
    std::optional<vm_serve::listen_address> address;
    if (serve)
    {
        address = vm_serve::parse_listen_address(serve_at);
        if (!address)
            fail("--serve: expected ADDR:PORT (an IPv4 address, [IPv6 address] or localhost, and a port 0 to 65535) "
                 "but found \"" + serve_at + "\"");
        if (!keys_path.empty())
            fail("--keys and --serve do not go together: in a live run the keys are those held in the page");
    }
#else
    if (serve)
        fail("--serve: this vmrun was built without the live server: " JACK_SERVE_LEFT_OUT);
#endif

    const auto start = std::chrono::steady_clock::now();
    program p;
    try
    {
        if (!keys_path.empty())
            options.keys = parse_key_script(keys_path, read_text(keys_path));
        p = load_program(read_paths(paths));
    }
    catch (const load_error &error)
    {
        fail(error.what());
    }

#ifdef JACK_HAVE_SERVE
    if (serve)
    {
        vm_serve::serve_settings settings;
        settings.address = *address;
        settings.live.step_limit = options.step_limit;
        settings.live.stats = stats;
        settings.live.text_copy = stdout;
        const vm_serve::serve_result result = vm_serve::serve(p, settings);
        int exit_status = result.exit_status;
        if (!screen_path.empty() && !result.memory.empty() && !write_screen(screen_path, result.memory.data()))
            exit_status = 1;
        return exit_status;
    }
#endif

    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    options.keyboard_input = stdin;
    options.text_output = stdout;
    machine m(p, options);
    const run_status status = m.run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int exit_status = status;
    if (!m.report().empty())
        std::fputs(m.report().c_str(), stderr);
    if (m.text_write_failed())
    {
        std::fprintf(stderr, "vmrun: standard output cannot be written: %s\n", std::strerror(errno));
        exit_status = 1;
    }
    if (!screen_path.empty() && !write_screen(screen_path, m.memory()))
        exit_status = 1;
    if (stats)
        std::fprintf(stderr,
                     "steps: %llu\ncalls: %llu\ndeepest stack: %d\nheap in use: %d\ntime: %.3f\n"
                     "steps per second: %.0f\n",
                     static_cast<unsigned long long>(m.steps()), static_cast<unsigned long long>(m.calls()),
                     m.deepest_stack(), m.heap_in_use(), seconds, seconds > 0 ? m.steps() / seconds : 0.0);
    return exit_status;
}
