// vmrun: loads and checks a VM program, or compiles one from its Jack
// classes in memory, then runs it with the standard library built in; its
// text on standard output, its keys from standard input and a key script,
// its screen as a PNG.
//
//   vmrun [options] PATH...
#include "cli/standard_options.h"
#include "compiler/compile.h"
#ifdef JACK_HAVE_SERVE
#include "serve/server.h"
#endif
#include "vm/key_script.h"
#include "vm/loader.h"
#include "vm/machine.h"
#include "vm/png_writer.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace vm_runner;

namespace
{
    const char usage[] = "usage: vmrun [--steps N] [--screen FILE.png] [--keys FILE] [--stats] [--check]\n"
                         "             [--allow-undefined] [--no-fold] [--profile FILE] [--profile-lines FILE]\n"
                         "             [--trace FILE] [--trace-steps FILE] [--record FILE.png [--record-every N]]\n"
                         "             [--serve[=ADDR:PORT]] PATH...\n";

    const Jack_Command_Line::program_help help = {
        "vmrun",
        "vmrun [--steps N] [--screen FILE.png] [--keys FILE] [--stats] [--check]\n"
        "             [--allow-undefined] [--no-fold] [--profile FILE] [--profile-lines FILE]\n"
        "             [--trace FILE] [--trace-steps FILE] [--record FILE.png [--record-every N]]\n"
        "             [--serve[=ADDR:PORT]] PATH...",
        "Loads and checks the VM program in the .vm files named, or in the named\n"
        "folders, then runs it with the standard library of Jack built in. A .jack\n"
        "file, or a folder that holds .jack files, is compiled in memory as jackc\n"
        "compiles it (the folder's .vm files are not read). Its text goes to standard\n"
        "output, its keys come from standard input (each byte a key) and from a key\n"
        "script, and its screen can be written as a PNG image. Reports name the Jack\n"
        "file, line and column where the VM files carry them (jackc -g).\n",
        "  --steps N          stop after exactly N steps (status 2)\n"
        "  --screen FILE.png  write the 512 x 256 screen at the end, whatever ended it\n"
        "  --keys FILE        key script: lines \"STEP CODE\", the key held from then on\n"
        "  --stats            steps, calls, deepest stack, heap, time on standard error\n"
        "  --check            every access through this or that must lie in a block the\n"
        "                     allocator gave out and has not taken back, or the screen\n"
        "  --allow-undefined  load calls of functions nobody defines; fault if one runs\n"
        "  --no-fold          compile .jack files without folding constants\n"
        "  --profile FILE     the steps of each call stack to FILE (folded stacks), and\n"
        "                     the 20 functions with the most steps on standard error\n"
        "  --profile-lines FILE\n"
        "                     the steps of each Jack line to FILE\n"
        "  --trace FILE       a line per call and per return to FILE\n"
        "  --trace-steps FILE a line per step to FILE\n"
        "  --record FILE.png  the screen as an animated PNG, a frame when it changed\n"
        "  --record-every N   look at the screen every N steps (default 1000000)\n"
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
        "  130  SIGINT (Ctrl-C) ended the run, which ends as at the step limit\n"
        "  143  SIGTERM ended the run, likewise\n",
        "",
    };

    // Whether standard output and standard error show on the same terminal
    // or go to the same file or pipe, so that a report written after the
    // program's text would run on in its last line. Two terminals count as
    // one: /dev/tty and the terminal's own device are different files on
    // the same screen.
    bool output_and_errors_together()
    {
        if (isatty(1) && isatty(2))
            return true;
        struct stat out, err;
        return fstat(1, &out) == 0 && fstat(2, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino;
    }

    bool write_screen(const std::string &path, const int16_t *memory)
    {
        const std::string png = screen_png(memory);
        std::ofstream out(path, std::ios::binary);
        out.write(png.data(), static_cast<std::streamsize>(png.size()));
        out.close();
        return static_cast<bool>(out);
    }

    [[noreturn]] void fail(const std::string &message)
    {
        std::fprintf(stderr, "vmrun: %s\n", message.c_str());
        std::exit(1);
    }

    std::FILE *open_for_writing(const std::string &path, const char *option)
    {
        if (path.empty())
            return nullptr;
        std::FILE *file = std::fopen(path.c_str(), "w");
        if (file == nullptr)
            fail(std::string(option) + ": " + path + ": cannot be written: " + std::strerror(errno));
        return file;
    }

    bool write_file(const std::string &path, const std::string &text)
    {
        std::ofstream out(path, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        return static_cast<bool>(out);
    }

    // The frames of each call stack outermost first, joined by ";", then
    // the steps spent in the innermost frame itself: the folded-stack text
    // that flame-graph tools read. One line a stack, in byte order.
    std::string folded_stacks(const machine &m)
    {
        const std::vector<profile_node> &nodes = m.profile();
        std::vector<std::string> lines;
        for (size_t i = 1; i < nodes.size(); ++i)
        {
            if (nodes[i].self_steps == 0)
                continue;
            std::string path;
            for (int n = static_cast<int>(i); n > 0; n = nodes[static_cast<size_t>(n)].parent)
                path = m.code().functions[static_cast<size_t>(nodes[static_cast<size_t>(n)].function)].name +
                       (path.empty() ? "" : ";" + path);
            lines.push_back(path + " " + std::to_string(nodes[i].self_steps));
        }
        std::sort(lines.begin(), lines.end());
        std::string out;
        for (const std::string &line : lines)
            out += line + "\n";
        return out;
    }

    // The 20 functions that took the most steps themselves: their steps,
    // share, steps with those of the functions they called, and calls.
    std::string profile_table(const machine &m)
    {
        const std::vector<profile_node> &nodes = m.profile();
        const size_t functions = m.code().functions.size();
        std::vector<uint64_t> self(functions, 0), inclusive(functions, 0);
        uint64_t total = 0;
        for (size_t i = 1; i < nodes.size(); ++i)
        {
            const uint64_t steps = nodes[i].self_steps;
            total += steps;
            self[static_cast<size_t>(nodes[i].function)] += steps;
            // A function counts once per stack, however often it recurs there.
            std::vector<int> seen;
            for (int n = static_cast<int>(i); n > 0; n = nodes[static_cast<size_t>(n)].parent)
            {
                const int f = nodes[static_cast<size_t>(n)].function;
                if (std::find(seen.begin(), seen.end(), f) == seen.end())
                {
                    seen.push_back(f);
                    inclusive[static_cast<size_t>(f)] += steps;
                }
            }
        }
        std::vector<size_t> order;
        for (size_t f = 0; f < functions; ++f)
            if (inclusive[f] > 0 || m.calls_by_function()[f] > 0)
                order.push_back(f);
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return self[a] > self[b]; });
        if (order.size() > 20)
            order.resize(20);
        char line[256];
        std::snprintf(line, sizeof line, "profile: %s steps\n%15s %7s %15s %13s  %s\n", with_commas(total).c_str(),
                      "self steps", "share", "with callees", "calls", "function");
        std::string out = line;
        for (size_t f : order)
        {
            std::snprintf(line, sizeof line, "%15s %6.2f%% %15s %13s  %s\n", with_commas(self[f]).c_str(),
                          total > 0 ? 100.0 * static_cast<double>(self[f]) / static_cast<double>(total) : 0.0,
                          with_commas(inclusive[f]).c_str(), with_commas(m.calls_by_function()[f]).c_str(),
                          m.code().functions[f].name.c_str());
            out += line;
        }
        return out;
    }

    // "FILE.jack:LINE steps" for every Jack line that took steps, sorted by
    // file and line.
    std::string line_profile(const machine &m)
    {
        std::vector<std::pair<jack_place, uint64_t>> lines = m.steps_by_line();
        const std::vector<std::string> &files = m.code().jack_files;
        std::sort(lines.begin(), lines.end(), [&](const auto &a, const auto &b) {
            const std::string &x = files[static_cast<size_t>(a.first.file)], &y = files[static_cast<size_t>(b.first.file)];
            return x != y ? x < y : a.first.line < b.first.line;
        });
        std::string out;
        for (const auto &[place, steps] : lines)
            out += files[static_cast<size_t>(place.file)] + ":" + std::to_string(place.line) + " " +
                   std::to_string(steps) + "\n";
        return out;
    }

    bool ends_with(const std::string &path, const char *extension)
    {
        const size_t n = std::strlen(extension);
        return path.size() > n && path.compare(path.size() - n, n, extension) == 0;
    }

    // The VM files of the program: those named, and those compiled from the
    // .jack files named or found in the folders named, all classes of the
    // run checked together as jackc checks them. Compile errors are
    // reported as jackc reports them, and nothing runs.
    std::vector<source_file> program_files(const std::vector<std::string> &paths, bool fold, bool allow_undefined)
    {
        std::vector<std::string> vm_paths, classes;
        for (const std::string &path : paths)
        {
            struct stat status;
            std::vector<std::string> found;
            if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            {
                try
                {
                    found = Jack_Compiler_Driver::jack_files_in(path);
                }
                catch (const Jack_Compiler_Driver::folder_error &error)
                {
                    fail(error.what());
                }
            }
            else if (ends_with(path, ".jack"))
                found.push_back(path);
            if (found.empty())
                vm_paths.push_back(path);
            classes.insert(classes.end(), found.begin(), found.end());
        }
        std::vector<source_file> files = read_paths(vm_paths);
        if (classes.empty())
            return files;
        Jack_Compiler_Driver::compile_options options;
        options.fold = fold;
        options.marks = true;  // the places of the reports; the code is the same
        options.program = "vmrun";
        options.diagnostics.allow_undefined = allow_undefined;
        options.diagnostics.colour = Jack_Source::diagnostics::colour_wanted(stderr);
        Jack_Compiler_Driver::compile_result compiled = Jack_Compiler_Driver::compile_classes(classes, options);
        std::fwrite(compiled.report.data(), 1, compiled.report.size(), stderr);
        if (compiled.errors > 0)
            std::exit(1);
        for (size_t i = 0; i < classes.size(); ++i)
            files.push_back({classes[i].substr(0, classes[i].size() - 5) + ".vm", std::move(compiled.code[i])});
        return files;
    }
}

int main(int argc, char **argv)
{
    Jack_Command_Line::answer_standard_options(argc, argv, help);
    // Ctrl-C and SIGTERM end the run as the step limit does: its text, its
    // screen and its statistics are kept. One that comes while the program
    // is compiled or loaded ends the run at its start.
    struct sigaction on_signal = {};
    on_signal.sa_handler = [](int signal) { pending_interrupt = signal; };
    sigemptyset(&on_signal.sa_mask);
    sigaction(SIGINT, &on_signal, nullptr);
    sigaction(SIGTERM, &on_signal, nullptr);

    run_options options;
    load_options load;
    std::string screen_path, keys_path, profile_path, profile_lines_path, trace_path, trace_steps_path, record_path;
    uint64_t record_every = 1000000;
    bool stats = false, fold = true;
    heap_checks checks = heap_checks::off;
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
        {
            screen_path = value();
            if (screen_path.empty())
                fail("--screen: expected a file name but found \"\"");
        }
        else if (arg == "--keys")
            keys_path = value();
        else if (arg == "--stats")
            stats = true;
        else if (arg == "--check")
            checks = heap_checks::on;
        else if (arg == "--profile")
            profile_path = value();
        else if (arg == "--profile-lines")
            profile_lines_path = value();
        else if (arg == "--trace")
            trace_path = value();
        else if (arg == "--trace-steps")
            trace_steps_path = value();
        else if (arg == "--record")
        {
            record_path = value();
            if (record_path.empty())
                fail("--record: expected a file name but found \"\"");
        }
        else if (arg == "--record-every")
        {
            const std::string n = value();
            char *end = nullptr;
            errno = 0;
            const unsigned long long every = std::strtoull(n.c_str(), &end, 10);
            if (n.empty() || n[0] < '1' || n[0] > '9' || *end != '\0' || errno == ERANGE)
                fail("--record-every: expected a step count from 1 but found \"" + n + "\"");
            record_every = every;
        }
        else if (arg == "--allow-undefined")
            load.allow_undefined = true;
        else if (arg == "--no-fold")
            fold = false;
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
        p = load_program(program_files(paths, fold, load.allow_undefined), load);
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
        // A step of the page is a Jack statement where the program has them.
        settings.live.unit = p.jack_places.empty() ? vm_serve::step_unit::vm_command
                                                   : vm_serve::step_unit::jack_statement;
        const vm_serve::serve_result result = vm_serve::serve(p, settings);
        int exit_status = result.exit_status;
        if (!screen_path.empty() && !result.memory.empty() && !write_screen(screen_path, result.memory.data()))
        {
            std::fprintf(stderr, "vmrun: %s: cannot be written\n", screen_path.c_str());
            exit_status = 1;
        }
        return exit_status;
    }
#endif

    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    options.keyboard_input = stdin;
    options.text_output = stdout;
    run_instruments instruments;
    instruments.profile = !profile_path.empty();
    instruments.profile_lines = !profile_lines_path.empty();
    if (instruments.profile_lines && p.jack_places.empty())
        fail("--profile-lines: the program has no Jack lines (compile it with jackc -g, or run it from source)");
    // The traces are written as the run goes, so that what led to a fault
    // is on disk whatever ends the run.
    std::FILE *trace = open_for_writing(trace_path, "--trace");
    std::FILE *trace_steps = open_for_writing(trace_steps_path, "--trace-steps");
    instruments.trace = trace;
    instruments.trace_steps = trace_steps;
    screen_recorder recorder;
    if (!record_path.empty())
    {
        instruments.recorder = &recorder;
        instruments.record_every = record_every;
    }
    machine m(p, options, checks, instruments);
    if (checks == heap_checks::on && !m.heap_checked())
        std::fputs("vmrun: --check: the program brings its own Memory.alloc or Memory.deAlloc, so its heap is not "
                   "checked\n",
                   stderr);
    const run_status status = m.run();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int exit_status = status;
    // What comes on standard error now starts a line of its own, also where
    // the program's text ended within one on the same screen or file.
    bool line_started = m.text_ends_a_line() || !output_and_errors_together();
    auto errors = [&]() -> std::FILE * {
        if (!line_started)
            std::fputc('\n', stderr);
        line_started = true;
        return stderr;
    };
    if (!m.report().empty())
        std::fputs(m.report().c_str(), errors());
    if (m.text_write_failed())
    {
        const int error = errno;
        std::fprintf(errors(), "vmrun: standard output cannot be written: %s\n", std::strerror(error));
        exit_status = 1;
    }
    if (!screen_path.empty() && !write_screen(screen_path, m.memory()))
    {
        std::fprintf(errors(), "vmrun: %s: cannot be written\n", screen_path.c_str());
        exit_status = 1;
    }
    if (!record_path.empty())
    {
        recorder.add(m.memory());  // the last screen is the last frame
        if (!write_file(record_path, recorder.file()))
        {
            std::fprintf(errors(), "vmrun: %s: cannot be written\n", record_path.c_str());
            exit_status = 1;
        }
    }
    for (const auto &[file, path] : {std::make_pair(trace, &trace_path), std::make_pair(trace_steps, &trace_steps_path)})
        if (file != nullptr && std::fclose(file) != 0)
        {
            std::fprintf(errors(), "vmrun: %s: cannot be written\n", path->c_str());
            exit_status = 1;
        }
    if (instruments.profile)
    {
        std::fputs(profile_table(m).c_str(), errors());
        if (!write_file(profile_path, folded_stacks(m)))
        {
            std::fprintf(errors(), "vmrun: %s: cannot be written\n", profile_path.c_str());
            exit_status = 1;
        }
    }
    if (instruments.profile_lines && !write_file(profile_lines_path, line_profile(m)))
    {
        std::fprintf(errors(), "vmrun: %s: cannot be written\n", profile_lines_path.c_str());
        exit_status = 1;
    }
    if (stats)
        std::fprintf(errors(),
                     "steps: %llu\ncalls: %llu\ndeepest stack: %d\nheap in use: %d\ntime: %.3f\n"
                     "steps per second: %.0f\n",
                     static_cast<unsigned long long>(m.steps()), static_cast<unsigned long long>(m.calls()),
                     m.deepest_stack(), m.heap_in_use(), seconds, seconds > 0 ? m.steps() / seconds : 0.0);
    return exit_status;
}
