// vmrun's interpreter on random but valid programs: the input's bytes choose
// the commands of a few functions (every command, every segment, calls of
// each other and of every library function with its own argument count),
// which always load. Each program runs twice under a step limit; the two
// runs must end the same way and leave the same memory (the screen, with the
// text drawn on it, among it). The text stream goes to /dev/null: a program
// may print a long "string" from anywhere in the RAM many times over.
#include "vm/library.h"
#include "vm/loader.h"
#include "vm/machine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
    class bytes
    {
    public:
        bytes(const uint8_t *data, size_t size) : data_(data), size_(size) {}
        bool more() const { return at_ < size_; }
        unsigned next() { return at_ < size_ ? data_[at_++] : 0; }

    private:
        const uint8_t *data_;
        size_t size_;
        size_t at_ = 0;
    };

    const int functions = 4;
    const int labels = 4;
    bool printed_ = false;

    std::string function_text(bytes &in, int f)
    {
        static const char *const segments[] = {"argument", "local", "static", "this", "that", "pointer", "temp"};
        static const char *const plain[] = {"add", "sub", "neg", "eq", "gt", "lt", "and", "or", "not", "return"};
        const std::string name = f == 0 ? "Main.main" : "Main.f" + std::to_string(f);
        std::string out = "function " + name + " " + std::to_string(in.next() % 4) + "\n";
        int placed = 0;
        for (int n = 0; n < 64 && in.more(); ++n)
        {
            const unsigned choice = in.next() % 16, v = in.next();
            const auto index = [&](const char *segment) {
                if (std::strcmp(segment, "pointer") == 0)
                    return v % 2;
                if (std::strcmp(segment, "temp") == 0)
                    return v % 8;
                return v % 12;
            };
            if (choice < 3)
                out += "push constant " + std::to_string(v * (in.next() + 1) % 32768) + "\n";
            else if (choice < 5)
            {
                const char *segment = segments[v % 7];
                out += std::string("push ") + segment + " " + std::to_string(index(segment)) + "\n";
            }
            else if (choice < 7)
            {
                const char *segment = segments[v % 7];
                out += std::string("pop ") + segment + " " + std::to_string(index(segment)) + "\n";
            }
            else if (choice < 10)
                out += std::string(plain[v % 10]) + "\n";
            else if (choice == 10 && placed < labels)
                out += "label L" + std::to_string(placed++) + "\n";
            else if (choice == 11)
                out += std::string(v & 1 ? "goto" : "if-goto") + " L" + std::to_string(v / 2 % labels) + "\n";
            else if (choice == 12)
                out += "call Main.f" + std::to_string(1 + v % (functions - 1)) + " " + std::to_string(in.next() % 4) +
                       "\n";
            else
            {
                // printString (readLine prints one too) of a "string" found
                // anywhere in the RAM prints up to 32767 characters in one
                // step; once a program is enough to try it.
                int f = static_cast<int>(v % vm_runner::library_size);
                if (f == vm_runner::lib_Output_printString || f == vm_runner::lib_Keyboard_readLine ||
                    f == vm_runner::lib_Keyboard_readInt)
                {
                    if (printed_)
                        f = vm_runner::lib_Output_printInt;
                    printed_ = true;
                }
                const vm_runner::library_function &lib = vm_runner::library_table[f];
                out += std::string("call ") + lib.name + " " + std::to_string(lib.arguments) + "\n";
            }
        }
        // Every label a jump may name is defined, at the end at the latest.
        for (; placed < labels; ++placed)
            out += "label L" + std::to_string(placed) + "\n";
        return out + "push constant 0\nreturn\n";
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bytes in(data, size);
    printed_ = false;
    std::string text;
    for (int f = 0; f < functions; ++f)
        text += function_text(in, f);
    const vm_runner::program p = vm_runner::load_program({{"Main.vm", text}});
    static std::FILE *const null = std::fopen("/dev/null", "w");
    vm_runner::run_options options;
    options.step_limit = 5000; // a step of library work can be 32767 characters printed
    options.text_output = null;
    vm_runner::machine first(p, options), second(p, options);
    const vm_runner::run_status status = first.run();
    if (status != second.run() || first.steps() != second.steps() ||
        first.report() != second.report() ||
        std::memcmp(first.memory(), second.memory(), sizeof(int16_t) * vm_runner::ram_size) != 0)
        std::abort();
    if (status < 0 || status > 3 || first.steps() > options.step_limit || (status != 0 && first.report().empty()))
        std::abort();
    return 0;
}
