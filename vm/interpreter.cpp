// The interpreter: the loop over the decoded instructions, calls between VM
// code and the library in both directions, step counting, and the reports.
#include "vm/machine.h"

#include <cstring>

namespace vm_runner
{
    namespace
    {
        // Thrown to unwind every loop and library function when the run
        // ends; run() catches it.
        struct run_ended
        {
        };

        // A return address is a value of the runner's own; it is written
        // into the frame and checked on return, so that a program that
        // overwrote it faults instead of jumping somewhere.
        int16_t token_of(int return_pc)
        {
            return static_cast<int16_t>(return_pc & 0x7fff);
        }
        const int16_t library_token = 0;

        // The stack is 256 to 2047; SP stands one past the top word.
        const int stack_base = 256;
        const int stack_end = 2048;

        // More frames than the stack can hold can only come from a program
        // that moves SP itself; the list of frames must not grow without end.
        const size_t frame_limit = 100000;

        // Each call of VM code by the library runs a loop of its own inside
        // the library function. The stack holds no more than about 360
        // frames; a program that moves SP could nest them without end, and
        // with them the runner's own stack.
        const int nesting_limit = 1000;
    }

    machine::machine(const program &p, run_options options) : p_(p), options_(std::move(options))
    {
        std::memset(ram_, 0, sizeof ram_);
        ram_[0] = stack_base;
        // The allocator is ready even for a program whose own Sys.init never
        // calls Memory.init.
        free_blocks[heap_base] = heap_end - heap_base;
        frames_.reserve(512);
    }

    int machine::heap_in_use() const
    {
        int words = 0;
        for (const auto &[address, size] : taken_blocks)
            words += size;
        return words;
    }

    run_status machine::run()
    {
        run_status status = status_halted;
        try
        {
            // The start, `call Sys.init 0`, is the first step.
            remaining_ = next_event();
            --remaining_;
            ++calls_;
            pc_ = -1;
            const function_entry &init = p_.functions[p_.sys_init];
            if (!init.defined())
            {
                frames_.push_back({p_.sys_init, -1, library_token});
                call_library(init.library, nullptr);
            }
            else
            {
                int sp = ram_[0];
                ram_[sp] = library_token;
                for (int r = 1; r <= 4; ++r)
                    ram_[sp + r] = ram_[r];
                sp += 5;
                ram_[2] = static_cast<int16_t>(sp - 5);
                ram_[1] = static_cast<int16_t>(sp);
                ram_[0] = static_cast<int16_t>(sp);
                max_sp_ = std::max(max_sp_, sp);
                frames_.push_back({p_.sys_init, -1, library_token});
                pc_ = init.entry;
                run_loop(0);
            }
        }
        catch (const run_ended &)
        {
            status = status_;
        }
        flush_text();
        return status;
    }

    uint64_t machine::next_event()
    {
        const uint64_t done = target_;
        const std::vector<key_event> &keys = options_.keys;
        while (next_key_event_ < keys.size() && keys[next_key_event_].step <= done)
            ram_[keyboard_address] = keys[next_key_event_++].code;
        if (done >= options_.step_limit)
            stop(status_step_limit, "step limit reached: " + std::to_string(done) + " steps ran");
        uint64_t next = options_.step_limit;
        if (next_key_event_ < keys.size() && keys[next_key_event_].step < next)
            next = keys[next_key_event_].step;
        if (options_.live != nullptr)
        {
            const uint64_t live = std::max<uint64_t>(options_.live->checkpoint(*this), 1);
            if (live < next - done)
                next = done + live;
        }
        target_ = next;
        return next - done;
    }

    void machine::run_loop(size_t base)
    {
        const instruction *const code = p_.code.data();
        const std::vector<function_entry> &functions = p_.functions;
        int16_t *const ram = ram_;
        int pc = pc_;
        int sp = ram[0];
        uint64_t remaining = remaining_;
        int max_sp = max_sp_;
        int bad = 0;            // the address of a bad access
        const char *what = "";  // what a stack fault was doing

#define SAVE() (pc_ = pc, ram[0] = static_cast<int16_t>(sp), remaining_ = remaining, max_sp_ = max_sp)
#define RELOAD() (pc = pc_, sp = ram[0], remaining = remaining_, max_sp = max_sp_)
// The stack's bounds: a push needs SP in 256 to 2047, taking k words needs
// SP in 256 + k to 2048.
#define NEED_PUSH()                                                                                                    \
    if (static_cast<unsigned>(sp - stack_base) >= static_cast<unsigned>(stack_end - stack_base))                       \
    {                                                                                                                  \
        what = "push";                                                                                                 \
        goto stack_fault;                                                                                              \
    }
#define NEED_WORDS(k)                                                                                                  \
    if (static_cast<unsigned>(sp - (stack_base + (k))) > static_cast<unsigned>(stack_end - stack_base - (k)))          \
    {                                                                                                                  \
        what = "pop";                                                                                                  \
        goto stack_fault;                                                                                              \
    }
// A word by a computed address: 5 to 24576 directly; 0 to 4 are the
// registers, SP among them held in sp while the loop runs.
#define LOAD(address, value)                                                                                           \
    {                                                                                                                  \
        const int a_ = (address);                                                                                      \
        if (static_cast<unsigned>(a_ - 5) < 24572u)                                                                    \
            value = ram[a_];                                                                                           \
        else if (static_cast<unsigned>(a_) <= 4u)                                                                      \
            value = a_ == 0 ? static_cast<int16_t>(sp) : ram[a_];                                                      \
        else                                                                                                           \
        {                                                                                                              \
            bad = a_;                                                                                                  \
            goto address_fault;                                                                                        \
        }                                                                                                              \
    }
#define STORE(address, value)                                                                                          \
    {                                                                                                                  \
        const int a_ = (address);                                                                                      \
        if (static_cast<unsigned>(a_ - 5) < 24572u)                                                                    \
            ram[a_] = value;                                                                                           \
        else if (a_ == 0)                                                                                              \
            sp = value;                                                                                                \
        else if (static_cast<unsigned>(a_) <= 4u)                                                                      \
            ram[a_] = value;                                                                                           \
        else                                                                                                           \
        {                                                                                                              \
            bad = a_;                                                                                                  \
            goto address_fault;                                                                                        \
        }                                                                                                              \
    }
#define PUSH_FROM(base_register)                                                                                       \
    {                                                                                                                  \
        NEED_PUSH();                                                                                                   \
        int16_t v_;                                                                                                    \
        LOAD(ram[base_register] + in.small, v_);                                                                       \
        ram[sp++] = v_;                                                                                                \
        if (sp > max_sp)                                                                                               \
            max_sp = sp;                                                                                               \
        ++pc;                                                                                                          \
        continue;                                                                                                      \
    }
#define POP_TO(base_register)                                                                                          \
    {                                                                                                                  \
        NEED_WORDS(1);                                                                                                 \
        const int16_t v_ = ram[--sp];                                                                                  \
        STORE(ram[base_register] + in.small, v_);                                                                      \
        ++pc;                                                                                                          \
        continue;                                                                                                      \
    }
#define BINARY(expression)                                                                                             \
    {                                                                                                                  \
        NEED_WORDS(2);                                                                                                 \
        const int16_t y = ram[--sp];                                                                                   \
        const int16_t x = ram[sp - 1];                                                                                 \
        ram[sp - 1] = static_cast<int16_t>(expression);                                                                \
        ++pc;                                                                                                          \
        continue;                                                                                                      \
    }
#define UNARY(expression)                                                                                              \
    {                                                                                                                  \
        NEED_WORDS(1);                                                                                                 \
        const int16_t x = ram[sp - 1];                                                                                 \
        ram[sp - 1] = static_cast<int16_t>(expression);                                                                \
        ++pc;                                                                                                          \
        continue;                                                                                                      \
    }

        for (;;)
        {
            if (__builtin_expect(remaining == 0, 0))
            {
                SAVE();
                remaining = next_event();
            }
            --remaining;
            const instruction in = code[pc];
            switch (in.op)
            {
            case opcode::push_constant:
                NEED_PUSH();
                ram[sp++] = static_cast<int16_t>(in.small);
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                continue;
            case opcode::push_local:
                PUSH_FROM(1);
            case opcode::push_argument:
                PUSH_FROM(2);
            case opcode::push_this:
                PUSH_FROM(3);
            case opcode::push_that:
                PUSH_FROM(4);
            case opcode::push_fixed:
                NEED_PUSH();
                ram[sp++] = ram[in.small];
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                continue;
            case opcode::pop_local:
                POP_TO(1);
            case opcode::pop_argument:
                POP_TO(2);
            case opcode::pop_this:
                POP_TO(3);
            case opcode::pop_that:
                POP_TO(4);
            case opcode::pop_fixed:
                NEED_WORDS(1);
                ram[in.small] = ram[--sp];
                ++pc;
                continue;
            case opcode::add:
                BINARY(static_cast<uint16_t>(x) + static_cast<uint16_t>(y));
            case opcode::sub:
                BINARY(static_cast<uint16_t>(x) - static_cast<uint16_t>(y));
            case opcode::neg:
                UNARY(-static_cast<uint16_t>(x));
            case opcode::eq:
                BINARY(x == y ? -1 : 0);
            case opcode::gt:
                BINARY(x > y ? -1 : 0);
            case opcode::lt:
                BINARY(x < y ? -1 : 0);
            case opcode::bit_and:
                BINARY(x & y);
            case opcode::bit_or:
                BINARY(x | y);
            case opcode::bit_not:
                UNARY(~x);
            case opcode::go_to:
                pc = in.big;
                continue;
            case opcode::if_go_to:
                NEED_WORDS(1);
                pc = ram[--sp] != 0 ? in.big : pc + 1;
                continue;
            case opcode::function:
            {
                const int k = in.small;
                if (sp < stack_base || sp + k > stack_end)
                {
                    what = "function";
                    goto stack_fault;
                }
                std::memset(ram + sp, 0, sizeof(int16_t) * k);
                sp += k;
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                continue;
            }
            case opcode::call:
            {
                if (sp < stack_base || sp + 5 > stack_end)
                {
                    what = "call";
                    goto stack_fault;
                }
                if (frames_.size() >= frame_limit)
                {
                    SAVE();
                    fault("more than " + std::to_string(frame_limit) + " calls deep");
                }
                const int16_t token = token_of(pc + 1);
                frames_.push_back({in.big, pc + 1, token});
                ram[sp] = token;
                ram[sp + 1] = ram[1];
                ram[sp + 2] = ram[2];
                ram[sp + 3] = ram[3];
                ram[sp + 4] = ram[4];
                sp += 5;
                ram[2] = static_cast<int16_t>(sp - in.small - 5);
                ram[1] = static_cast<int16_t>(sp);
                if (sp > max_sp)
                    max_sp = sp;
                ++calls_;
                pc = functions[in.big].entry;
                continue;
            }
            case opcode::call_library:
            {
                // The arguments stay on the stack while the function runs,
                // as they would under a frame of VM code; its value then
                // takes the place of the first, as a return leaves it.
                const int count = in.small;
                const int first = sp - count;
                if (first < 0 || (count == 0 && sp >= stack_end))
                {
                    what = count == 0 ? "push" : "call";
                    goto stack_fault;
                }
                int16_t arguments[4] = {0, 0, 0, 0};
                for (int i = 0; i < count; ++i)
                    LOAD(first + i, arguments[i]);
                ++calls_;
                SAVE();
                frames_.push_back({p_.library_functions[in.big], pc + 1, library_token});
                const int16_t value = call_library(in.big, arguments);
                frames_.pop_back();
                RELOAD();
                sp = first;
                STORE(first, value);
                sp = first + 1;
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                continue;
            }
            case opcode::return_:
            {
                const int frame = ram[1];
                int16_t token;
                LOAD(frame - 5, token);
                if (frame - 1 > keyboard_address)
                {
                    bad = frame - 1;
                    goto address_fault;
                }
                if (token != frames_.back().token)
                {
                    SAVE();
                    fault("the return address in the frame, RAM[" + std::to_string(frame - 5) + "], was overwritten");
                }
                NEED_WORDS(1);
                const int16_t value = ram[--sp];
                const int argument = ram[2];
                STORE(argument, value);
                sp = argument + 1;
                ram[4] = ram[frame - 1];
                ram[3] = ram[frame - 2];
                ram[2] = ram[frame - 3];
                ram[1] = ram[frame - 4];
                pc = frames_.back().return_pc;
                frames_.pop_back();
                if (frames_.size() == base)
                {
                    SAVE();
                    return;
                }
                continue;
            }
            case opcode::end_of_function:
                ++remaining; // not a command of the program: no step
                SAVE();
                fault("the end of " + functions[in.big].name + " was reached without a return");
            default:
                // The loader makes no other code: the dispatch needs no range check.
                __builtin_unreachable();
            }
        }

    stack_fault:
        SAVE();
        if (std::strcmp(what, "pop") == 0)
        {
            if (sp >= 0 && sp <= stack_base + 1)
                fault("stack underflow: a pop with SP at " + std::to_string(sp));
        }
        else if (sp >= stack_base)
            fault(std::string("stack overflow: ") + (std::strcmp(what, "push") == 0 ? "a push" : std::string("a ") + what) +
                  " would write above address 2047");
        fault("SP is " + std::to_string(sp) + ", outside the stack (256 to 2047)");
    address_fault:
        SAVE();
        fault("address " + std::to_string(bad) + " is outside the RAM (0 to 24576)");
#undef SAVE
#undef RELOAD
#undef NEED_PUSH
#undef NEED_WORDS
#undef LOAD
#undef STORE
#undef PUSH_FROM
#undef POP_TO
#undef BINARY
#undef UNARY
    }

    int16_t machine::call_library(int library, const int16_t *arguments)
    {
        return library_table[library].run(*this, arguments);
    }

    int16_t machine::call(library_index f, std::initializer_list<int16_t> arguments)
    {
        return call_function(p_.library_functions[f], arguments.begin(), static_cast<int>(arguments.size()));
    }

    int16_t machine::call_function(int function, const int16_t *arguments, int count)
    {
        const function_entry &f = p_.functions[function];
        if (frames_.size() >= frame_limit)
            fault("more than " + std::to_string(frame_limit) + " calls deep");
        if (!f.defined())
        {
            frames_.push_back({function, -1, library_token});
            const int16_t value = call_library(f.library, arguments);
            frames_.pop_back();
            return value;
        }
        // VM code called by the library: its arguments and frame go on the
        // stack as a call command would put them, and a loop of its own runs
        // until that frame returns.
        int sp = ram_[0];
        if (sp < stack_base || sp + count + 5 > stack_end)
            fault("stack overflow: calling " + f.name + " would pass address 2047");
        for (int i = 0; i < count; ++i)
            ram_[sp++] = arguments[i];
        ram_[sp] = library_token;
        for (int r = 1; r <= 4; ++r)
            ram_[sp + r] = ram_[r];
        sp += 5;
        ram_[2] = static_cast<int16_t>(sp - count - 5);
        ram_[1] = static_cast<int16_t>(sp);
        ram_[0] = static_cast<int16_t>(sp);
        max_sp_ = std::max(max_sp_, sp);
        if (nesting_ >= nesting_limit)
            fault("the library and VM code call each other more than " + std::to_string(nesting_limit) + " deep");
        const int caller_pc = pc_;
        frames_.push_back({function, -1, library_token});
        pc_ = f.entry;
        ++nesting_;
        run_loop(frames_.size() - 1);
        --nesting_;
        pc_ = caller_pc;
        sp = ram_[0];
        // The return left the value at ARG, now the top; it is taken off.
        if (sp <= 0 || sp > keyboard_address + 1)
            fault("SP is " + std::to_string(sp) + " after " + f.name + " returned");
        ram_[0] = static_cast<int16_t>(sp - 1);
        return ram_[sp - 1];
    }

    int16_t machine::read(int address)
    {
        if (address < 0 || address > keyboard_address)
            fault(p_.functions[frames_.back().function].name + ": address " + std::to_string(address) +
                  " is outside the RAM (0 to 24576)");
        return ram_[address];
    }

    void machine::write(int address, int16_t value)
    {
        if (address < 0 || address > keyboard_address)
            fault(p_.functions[frames_.back().function].name + ": address " + std::to_string(address) +
                  " is outside the RAM (0 to 24576)");
        ram_[address] = value;
    }

    void machine::error(int code)
    {
        call(lib_Sys_error, {static_cast<int16_t>(code)});
    }

    void machine::halt()
    {
        status_ = status_halted;
        throw run_ended();
    }

    void machine::fault(const std::string &what)
    {
        stop(status_failed, what);
    }

    void machine::fail_with_error_code(int code)
    {
        const char *meaning = error_meaning(code);
        stop(status_failed, "Sys.error(" + std::to_string(code) + "): " + (meaning ? meaning : "a code of the program's own"));
    }

    int16_t machine::next_key()
    {
        flush_text();
        if (options_.live != nullptr)
            return options_.live->next_key(*this);
        const int c = options_.keyboard_input ? std::fgetc(options_.keyboard_input) : EOF;
        if (c == EOF)
            stop(status_input_ended, "standard input ended while " + p_.functions[frames_.back().function].name +
                                         " waited for a key");
        if (c == '\n')
            return 128;
        if (c == 8 || c == 127)
            return 129;
        return static_cast<int16_t>(c);
    }

    void machine::flush_text()
    {
        if (options_.text_output == nullptr || text_.empty())
            return;
        if (std::fwrite(text_.data(), 1, text_.size(), options_.text_output) != text_.size() ||
            std::fflush(options_.text_output) != 0)
            text_write_failed_ = true;
        text_.clear();
    }

    void machine::stop(run_status status, const std::string &what)
    {
        status_ = status;
        report_ = "vmrun: " + what + "\n" + location() + call_stack();
        throw run_ended();
    }

    std::string machine::location() const
    {
        if (pc_ < 0)
            return "at the start, in the call of Sys.init\n";
        const source_place place = p_.places[pc_];
        return "at " + p_.functions[p_.function_of[pc_]].name + ", " + p_.files[place.file] + ":" +
               std::to_string(place.line) + ": " + command_text(p_, pc_) + "\n";
    }

    std::string machine::call_stack() const
    {
        std::string out = "call stack, innermost first:\n";
        const size_t n = frames_.size();
        // A runaway recursion would fill a screen; its middle says nothing.
        const size_t shown = 20;
        for (size_t k = 0; k < n; ++k)
        {
            if (n > 2 * shown && k == shown)
            {
                out += "    ... " + std::to_string(n - 2 * shown) + " more ...\n";
                k = n - shown - 1;
                continue;
            }
            const size_t i = n - 1 - k;
            const function_entry &f = p_.functions[frames_[i].function];
            out += "    " + f.name;
            if (!f.defined())
                out += " (library)\n";
            else
            {
                const int pc = i + 1 < n ? frames_[i + 1].return_pc - 1 : pc_;
                if (pc >= 0)
                    out += " (" + p_.files[p_.places[pc].file] + ":" + std::to_string(p_.places[pc].line) + ")";
                out += "\n";
            }
        }
        return out;
    }
}
