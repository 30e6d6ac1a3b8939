// The interpreter: the loop over the decoded instructions, calls between VM
// code and the library in both directions, step counting, and the reports.
#include "vm/machine.h"

#include "frontend/caret.h"
#include "vm/loader.h"
#include "vm/png_writer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
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

        const int16_t library_token = 0;

        // The stack is 256 to 2047; SP stands one past the top word.
        const int stack_base = 256;
        const int stack_end = 2048;

        // More frames than the stack can hold can only come from a program
        // that moves SP itself; the list of frames must not grow without end.
        const size_t frame_limit = 100000;
        // A call of VM code is refused at the limit, and a library function
        // can be called on top of that.
        const size_t frame_capacity = frame_limit + 2;

        // Each call of VM code by the library runs a loop of its own inside
        // the library function. The stack holds no more than about 360
        // frames; a program that moves SP could nest them without end, and
        // with them the runner's own stack.
        const int nesting_limit = 1000;

        // Math.multiply, divide, min or max (by their call opcodes) of x and
        // y, as the library works them out; false for a division by zero,
        // which goes to the library's error.
        [[gnu::always_inline]] inline bool arithmetic_value(opcode op, int16_t x, int16_t y, int16_t &value)
        {
            if (op == opcode::call_multiply)
                value = static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(x) * y));
            else if (op == opcode::call_min)
                value = x < y ? x : y;
            else if (op == opcode::call_max)
                value = x > y ? x : y;
            else if (y != 0)
                value = static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(x) / y));
            else
                return false;
            return true;
        }

        // A binary command of the fused code on its two words.
        [[gnu::always_inline]] inline int16_t binary_value(uint8_t operation, int16_t x, int16_t y)
        {
            switch (static_cast<opcode>(operation))
            {
            case opcode::add: return static_cast<int16_t>(static_cast<uint16_t>(x) + static_cast<uint16_t>(y));
            case opcode::sub: return static_cast<int16_t>(static_cast<uint16_t>(x) - static_cast<uint16_t>(y));
            case opcode::eq: return x == y ? -1 : 0;
            case opcode::gt: return x > y ? -1 : 0;
            case opcode::lt: return x < y ? -1 : 0;
            case opcode::bit_and: return static_cast<int16_t>(x & y);
            default: return static_cast<int16_t>(x | y);
            }
        }
    }

    machine::machine(const program &p, run_options options, heap_checks checks, run_instruments instruments)
        : p_(p), options_(std::move(options)), frames_(frame_capacity)
    {
        std::memset(ram_, 0, sizeof ram_);
        ram_[0] = stack_base;
        // The allocator is ready even for a program whose own Sys.init never
        // calls Memory.init.
        free_blocks.push_back({heap_base, heap_end - heap_base});
        // The blocks are known only while the library's allocator gives
        // them out and takes them back.
        checking_ = checks == heap_checks::on && !p_.functions[p_.library_functions[lib_Memory_alloc]].defined() &&
                    !p_.functions[p_.library_functions[lib_Memory_deAlloc]].defined();
        if (checking_)
            block_of_.assign(ram_size, 0);
        instruments_ = instruments;
        instrumented_ = instruments_.any();
        if (instruments_.profile)
        {
            profile_nodes_.push_back(profile_node{-1, -1, 0, {}, -1, -1});
            calls_of_.assign(p_.functions.size(), 0);
        }
        if (instruments_.profile_lines)
        {
            // Each Jack line a number of its own, in the order of the code.
            std::map<std::pair<int, int>, int> number;
            line_of_pc_.assign(p_.code.size(), -1);
            for (size_t pc = 0; pc < p_.jack_places.size(); ++pc)
            {
                const jack_place j = p_.jack_places[pc];
                if (j.file < 0)
                    continue;
                auto [it, added] = number.emplace(std::make_pair(j.file, j.line), static_cast<int>(lines_.size()));
                if (added)
                    lines_.push_back(jack_place{j.file, j.line, 0});
                line_of_pc_[pc] = it->second;
            }
            line_steps_.assign(lines_.size(), 0);
        }
    }

    void machine::frames_changed(uint64_t steps_now)
    {
        if (!instruments_.profile)
            return;
        const int top = profile_stack_.empty() ? 0 : profile_stack_.back();
        profile_nodes_[static_cast<size_t>(top)].self_steps += steps_now - profile_mark_;
        profile_mark_ = steps_now;
        while (profile_stack_.size() > frames_.size())
            profile_stack_.pop_back();
        while (profile_stack_.size() < frames_.size())
        {
            const int parent = profile_stack_.empty() ? 0 : profile_stack_.back();
            const int function = frames_[profile_stack_.size()].function;
            profile_stack_.push_back(child_node(parent, function));
            ++calls_of_[static_cast<size_t>(function)];
        }
    }

    // The node of a call of function from the stack of node parent, made
    // the first time.
    int machine::child_node(int parent, int function)
    {
        if (profile_nodes_[static_cast<size_t>(parent)].last_function == function)
            return profile_nodes_[static_cast<size_t>(parent)].last_child;
        int child = -1;
        for (const auto &[f, node] : profile_nodes_[static_cast<size_t>(parent)].children)
            if (f == function)
                child = node;
        if (child < 0)
        {
            child = static_cast<int>(profile_nodes_.size());
            profile_nodes_[static_cast<size_t>(parent)].children.push_back({function, child});
            profile_nodes_.push_back(profile_node{function, parent, 0, {}, -1, -1});
        }
        profile_nodes_[static_cast<size_t>(parent)].last_function = function;
        profile_nodes_[static_cast<size_t>(parent)].last_child = child;
        return child;
    }

    // A library function that runs its one step and returns, called from
    // VM code: what frames_changed makes of its frame, the step before it
    // to the caller's node and the call's own step to the function's.
    void machine::profile_leaf_call(int function, uint64_t steps_before)
    {
        if (!instruments_.profile)
            return;
        const int top = profile_stack_.empty() ? 0 : profile_stack_.back();
        profile_node &parent = profile_nodes_[static_cast<size_t>(top)];
        parent.self_steps += steps_before - profile_mark_;
        profile_mark_ = steps_before + 1;
        ++calls_of_[static_cast<size_t>(function)];
        ++profile_nodes_[static_cast<size_t>(child_node(top, function))].self_steps;
    }

    void machine::trace_call(int function, const int16_t *arguments, int count, int call_pc)
    {
        if (instruments_.trace == nullptr)
            return;
        std::string line(2 * (frames_.size() - 1), ' ');
        line += p_.functions[static_cast<size_t>(function)].name + "(";
        for (int i = 0; i < count; ++i)
            line += (i > 0 ? ", " : "") + std::to_string(arguments[i]);
        line += ")";
        const jack_place place = jack_place_of(p_, call_pc);
        if (place.file >= 0)
            line += " at " + jack_position(place);
        line += "\n";
        std::fputs(line.c_str(), instruments_.trace);
    }

    void machine::trace_return(int function, int16_t value)
    {
        if (instruments_.trace == nullptr)
            return;
        const std::string line = std::string(2 * frames_.size(), ' ') + p_.functions[static_cast<size_t>(function)].name +
                                 " returns " + std::to_string(value) + "\n";
        std::fputs(line.c_str(), instruments_.trace);
    }

    void machine::trace_step(int pc, int sp, uint64_t step)
    {
        const jack_place place = jack_place_of(p_, pc);
        const std::string where = place.file >= 0 ? jack_position(place)
                                                  : p_.files[static_cast<size_t>(p_.places[pc].file)] + ":" +
                                                        std::to_string(p_.places[pc].line);
        const std::string top = sp > 256 && sp <= ram_size ? std::to_string(ram_[sp - 1]) : "-";
        std::fprintf(instruments_.trace_steps, "%llu %s %s %s SP=%d top=%s\n", static_cast<unsigned long long>(step),
                     p_.functions[static_cast<size_t>(p_.function_of[pc])].name.c_str(), where.c_str(),
                     command_text(p_, pc).c_str(), sp, top.c_str());
    }

    std::vector<std::pair<jack_place, uint64_t>> machine::steps_by_line() const
    {
        std::vector<std::pair<jack_place, uint64_t>> out;
        for (size_t i = 0; i < lines_.size(); ++i)
            if (line_steps_[i] > 0)
                out.push_back({lines_[i], line_steps_[i]});
        return out;
    }

    void machine::note_alloc(int address, int words)
    {
        // A long run gives out blocks without end; only those some word
        // still names are kept, renumbered, when the list grows long.
        if (blocks_.size() >= 65536)
        {
            std::vector<int32_t> renumbered(blocks_.size() + 1, 0);
            std::vector<heap_block> kept;
            for (int a = heap_base; a < heap_end; ++a)
            {
                int32_t &id = block_of_[static_cast<size_t>(a)];
                if (id == 0)
                    continue;
                const size_t old = static_cast<size_t>(id > 0 ? id : -id);
                if (renumbered[old] == 0)
                {
                    kept.push_back(blocks_[old - 1]);
                    renumbered[old] = static_cast<int32_t>(kept.size());
                }
                id = id > 0 ? renumbered[old] : -renumbered[old];
            }
            blocks_ = std::move(kept);
        }
        blocks_.push_back(heap_block{address, words, jack_place_of(p_, pc_), jack_place{}});
        const int32_t id = static_cast<int32_t>(blocks_.size());
        std::fill(block_of_.begin() + address, block_of_.begin() + address + words, id);
    }

    void machine::note_free(int address)
    {
        const int32_t id = block_of_[address];
        if (id <= 0)
            return;
        heap_block &b = blocks_[static_cast<size_t>(id - 1)];
        b.freed = jack_place_of(p_, pc_);
        std::fill(block_of_.begin() + b.address, block_of_.begin() + b.address + b.words, -id);
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
                frames_.push_back({p_.sys_init, -1, library_token, 0});
                if (instrumented_)
                {
                    frames_changed(0);
                    trace_call(p_.sys_init, nullptr, 0, -1);
                }
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
                frames_.push_back({p_.sys_init, -1, library_token, static_cast<int16_t>(sp)});
                if (instrumented_)
                {
                    frames_changed(0);
                    trace_call(p_.sys_init, nullptr, 0, -1);
                }
                pc_ = init.entry;
                run_loop(0);
            }
        }
        catch (const run_ended &)
        {
            status = status_;
        }
        // The last steps are the innermost frame's.
        if (instruments_.profile)
        {
            const int top = profile_stack_.empty() ? 0 : profile_stack_.back();
            profile_nodes_[static_cast<size_t>(top)].self_steps += steps() - profile_mark_;
            profile_mark_ = steps();
        }
        flush_text();
        return status;
    }

    volatile int pending_interrupt = 0;

    [[noreturn]] void machine::interrupted()
    {
        const bool terminated = pending_interrupt == SIGTERM;
        interrupt(terminated ? status_terminated : status_interrupted,
                  std::string("interrupted by ") + (terminated ? "SIGTERM" : "SIGINT") + ": " + std::to_string(steps()) +
                      " steps ran");
    }

    uint64_t machine::next_event()
    {
        const uint64_t done = target_;
        if (pending_interrupt != 0)
            interrupted();
        screen_recorder *const recorder = instruments_.recorder;
        if (recorder != nullptr && done >= next_frame_)
        {
            if (done > 0)
                recorder->add(ram_);
            next_frame_ = done + std::max<uint64_t>(instruments_.record_every, 1);
        }
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
        // An event at least every 2^24 steps (some hundredths of a second),
        // where a signal is seen; and at the next frame of a recording.
        const uint64_t span = uint64_t(1) << 24;
        if (next - done > span)
            next = done + span;
        if (recorder != nullptr && next > next_frame_)
            next = next_frame_;
        target_ = next;
        return next - done;
    }

    // Under --check the accesses through this and that are checked against
    // the blocks; the plain loop is compiled without a trace of it. Each
    // form is inlined into a function of its own: the compiler moves the
    // cold paths of an ordinary function out of its hot code, which it does
    // not do for a template's own instantiation, and the plain loop ran an
    // eighth slower so.
    //
    // kind 0 is the plain loop, 1 the checked one, 2 the one that feeds the
    // instruments (and checks when --check asks).
    template <int kind> void machine::run_loop_body(size_t base)
    {
        const instruction *const code = p_.code.data();
        const int32_t *const block_of = kind != 0 ? block_of_.data() : nullptr;
        const bool check_now = kind == 1 || (kind == 2 && checking_);
        uint64_t *const line_steps = kind == 2 && !line_steps_.empty() ? line_steps_.data() : nullptr;
        const int *const line_of_pc = kind == 2 ? line_of_pc_.data() : nullptr;
        std::FILE *const step_trace = kind == 2 ? instruments_.trace_steps : nullptr;
        int base_value = 0;  // THIS or THAT of an access out of every block
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
// Under --check, an address through this or that (base registers 3 and 4)
// below the screen must lie in a block given out.
#define CHECK_BLOCK(base_register, address)                                                                            \
    if (kind != 0 && check_now && (base_register) >= 3)                                                                \
    {                                                                                                                  \
        const int c_ = (address);                                                                                      \
        if (static_cast<unsigned>(c_) < static_cast<unsigned>(screen_base) && block_of[c_] <= 0)                       \
        {                                                                                                              \
            bad = c_;                                                                                                  \
            base_value = ram[base_register];                                                                           \
            goto heap_fault_found;                                                                                     \
        }                                                                                                              \
    }
#define PUSH_FROM(base_register)                                                                                       \
    {                                                                                                                  \
        NEED_PUSH();                                                                                                   \
        int16_t v_;                                                                                                    \
        CHECK_BLOCK(base_register, ram[base_register] + in->small);                                                     \
        LOAD(ram[base_register] + in->small, v_);                                                                       \
        ram[sp++] = v_;                                                                                                \
        if (sp > max_sp)                                                                                               \
            max_sp = sp;                                                                                               \
        ++pc;                                                                                                          \
        DISPATCH();                                                                                                      \
    }
#define POP_TO(base_register)                                                                                          \
    {                                                                                                                  \
        NEED_WORDS(1);                                                                                                 \
        CHECK_BLOCK(base_register, ram[base_register] + in->small);                                                     \
        const int16_t v_ = ram[--sp];                                                                                  \
        STORE(ram[base_register] + in->small, v_);                                                                      \
        ++pc;                                                                                                          \
        DISPATCH();                                                                                                      \
    }
#define BINARY(expression)                                                                                             \
    {                                                                                                                  \
        NEED_WORDS(2);                                                                                                 \
        const int16_t y = ram[--sp];                                                                                   \
        const int16_t x = ram[sp - 1];                                                                                 \
        ram[sp - 1] = static_cast<int16_t>(expression);                                                                \
        ++pc;                                                                                                          \
        DISPATCH();                                                                                                      \
    }
#define UNARY(expression)                                                                                              \
    {                                                                                                                  \
        NEED_WORDS(1);                                                                                                 \
        const int16_t x = ram[sp - 1];                                                                                 \
        ram[sp - 1] = static_cast<int16_t>(expression);                                                                \
        ++pc;                                                                                                          \
        DISPATCH();                                                                                                      \
    }

// The stack a library call of `count` arguments from SP needs, `first`
// its first argument. Its value is written at `first`: without arguments a
// push, which needs SP below 2048. Arguments are taken as pops take words,
// which needs SP at 2048 at most; past that, the value lands above 2047
// when every argument lies there.
#define LIBRARY_CALL_BOUNDS(count)                                                                                     \
    if (first < 0 || ((count) == 0 && sp >= stack_end))                                                                \
    {                                                                                                                  \
        what = (count) == 0 ? "push" : "call";                                                                         \
        goto stack_fault;                                                                                              \
    }                                                                                                                  \
    if (sp > stack_end)                                                                                                \
    {                                                                                                                  \
        what = first < stack_end ? "pop" : "call";                                                                     \
        goto stack_fault;                                                                                              \
    }
// What a call of in->big with in->small arguments writes (the return
// address and the caller's LCL, ARG, THIS and THAT; the callee's ARG and
// LCL) and its frame, counted and shown to the instruments: the call
// command is the caller's step.
#define PUSH_FRAME()                                                                                                   \
    {                                                                                                                  \
        const int16_t token = return_token(pc + 1);                                                                    \
        frames_.push_back({in->big, pc + 1, token, static_cast<int16_t>(sp + 5)});                                     \
        ram[sp] = token;                                                                                               \
        ram[sp + 1] = ram[1];                                                                                          \
        ram[sp + 2] = ram[2];                                                                                          \
        ram[sp + 3] = ram[3];                                                                                          \
        ram[sp + 4] = ram[4];                                                                                          \
        sp += 5;                                                                                                       \
        ram[2] = static_cast<int16_t>(sp - in->small - 5);                                                             \
        ram[1] = static_cast<int16_t>(sp);                                                                             \
        ++calls_;                                                                                                      \
        if (kind == 2)                                                                                                 \
        {                                                                                                              \
            frames_changed(target_ - remaining);                                                                       \
            trace_call(in->big, ram + (sp - in->small - 5), in->small, pc);                                            \
        }                                                                                                              \
    }
// A fused run done: the deepest SP it reached, its steps (the first
// counted already), and on to the command after it.
#define FUSED_DONE(peak, steps)                                                                                        \
    {                                                                                                                  \
        if ((peak) > max_sp)                                                                                           \
            max_sp = (peak);                                                                                           \
        remaining -= (steps) - 1u;                                                                                     \
        pc += (steps);                                                                                                 \
        DISPATCH();                                                                                                    \
    }
// A fused call after `pushes` pushes: the steps to its function command,
// room on the stack for the pushes, its frame and the callee's locals, and
// room for its frame.
#define FUSED_CALL_ROOM(pushes)                                                                                        \
    if (remaining < (pushes) + 1u || sp < stack_base || sp + (pushes) + 5 + in->target > stack_end ||                  \
        frames_.top() >= deepest)                                                                                      \
        FALL_BACK();
// Two fused pushes; the second may read the word the first wrote.
#define FUSED_PUSH2()                                                                                                  \
    int from = 0, from2 = 0;                                                                                           \
    FUSED_SOURCE(in->first, in->a, from);                                                                              \
    FUSED_SOURCE(in->second, in->b, from2);                                                                            \
    ram[sp] = FUSED_VALUE(in->first, in->a, from);                                                                     \
    ram[sp + 1] = FUSED_VALUE(in->second, in->b, from2);                                                               \
    sp += 2;
// A fused instruction that cannot run as one runs its first command alone.
#define FALL_BACK()                                                                                                    \
    {                                                                                                                  \
        in = &code[pc];                                                                                                \
        goto dispatch;                                                                                                 \
    }
// The word a fused instruction reads or writes through a base and an
// index: 1 to 24576, and under --check what a lone command would not fault
// on. (0 is SP, held in sp; 1 to 4 are words as any other for a push or a
// pop, and a fused run writes at most one word, last.)
#define FUSED_ADDRESS(base, index, address)                                                                            \
    {                                                                                                                  \
        address = ram[base] + (index);                                                                                 \
        if (static_cast<unsigned>(address - 1) >= 24576u)                                                              \
            FALL_BACK();                                                                                               \
        if (kind != 0 && check_now && ((base) == 3 || (base) == 4) &&                                                  \
            static_cast<unsigned>(address) < unsigned(screen_base) && block_of[address] <= 0)                          \
            FALL_BACK();                                                                                               \
    }
// A push's source: a constant (base 0) or a word.
#define FUSED_SOURCE(base, index, address)                                                                             \
    if ((base) != 0)                                                                                                   \
        FUSED_ADDRESS(base, index, address)
#define FUSED_VALUE(base, index, address) ((base) == 0 ? static_cast<int16_t>(index) : ram[address])
// Every fused run stays within the stack when it starts with SP in 264 to
// 2040: none takes more than two words below SP or puts more than five
// above it. Elsewhere its commands run one at a time, faulting as they do.
#define FUSED_RUN(steps)                                                                                               \
    if (remaining < (steps) - 1u ||                                                                                    \
        static_cast<unsigned>(sp - (stack_base + 8)) > unsigned(stack_end - 8 - stack_base - 8))                       \
        FALL_BACK();
// The value of the library's arithmetic in a fused run, from x and y; a
// division by zero runs its commands one at a time, to the library's error.
#define FUSED_ARITHMETIC()                                                                                             \
    if (!arithmetic_value(static_cast<opcode>(in->operation), x, y, value))                                            \
        FALL_BACK();
// The two pushes and the binary command of a fused expression, with the
// words they leave above the stack; the second push may read the word the
// first wrote.
#define FUSED_EXPRESSION(steps)                                                                                        \
    FUSED_RUN(steps);                                                                                                  \
    int from = 0, from2 = 0;                                                                                           \
    FUSED_SOURCE(in->first, in->a, from);                                                                              \
    FUSED_SOURCE(in->second, in->b, from2);                                                                            \
    const int16_t x = FUSED_VALUE(in->first, in->a, from);                                                             \
    ram[sp] = x;                                                                                                       \
    const int16_t y = FUSED_VALUE(in->second, in->b, from2);                                                           \
    ram[sp + 1] = y;                                                                                                   \
    const int16_t value = binary_value(in->operation, x, y);                                                           \
    if (sp + 2 > max_sp)                                                                                               \
        max_sp = sp + 2;                                                                                               \
    remaining -= (steps) - 1u;

// Each handler ends in a dispatch of its own (one indirect jump per
// handler, which the processor predicts far better than one shared jump);
// an event falls through to the top of the loop.
#define STEP()                                                                                                         \
    --remaining;                                                                                                       \
    in = &run[pc];                                                                                                     \
    if (kind == 2)                                                                                                     \
    {                                                                                                                  \
        if (line_steps != nullptr && line_of_pc[pc] >= 0)                                                              \
            ++line_steps[line_of_pc[pc]];                                                                              \
        if (step_trace != nullptr)                                                                                     \
            trace_step(pc, sp, target_ - remaining);                                                                   \
    }
#define DISPATCH()                                                                                                     \
    {                                                                                                                  \
        if (__builtin_expect(remaining == 0, 0))                                                                       \
            continue;                                                                                                  \
        STEP();                                                                                                        \
        goto *handlers[static_cast<int>(in->op)];                                                                      \
    }
#define CASE(name)                                                                                                     \
    case opcode::name:                                                                                                 \
    op_##name:

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
        const void *const handlers[] = {
#define VM_OPCODE(name) &&op_##name,
#include "vm/opcodes.def"
#undef VM_OPCODE
        };
        const frame *const outermost = frames_.with(base);   // the frames of the loop's caller end here
        const frame *const deepest = frames_.with(frame_limit);
        const instruction *const run =
            p_.fused.empty() || (kind == 2 && (line_steps != nullptr || step_trace != nullptr)) ? code : p_.fused.data();
        const instruction *in;
        for (;;)
        {
            if (__builtin_expect(remaining == 0, 0))
            {
                SAVE();
                remaining = next_event();
            }
            STEP();
        dispatch:
            switch (in->op)
            {
            CASE(push_constant)
                NEED_PUSH();
                ram[sp++] = static_cast<int16_t>(in->small);
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                DISPATCH();
            CASE(push_local)
                PUSH_FROM(1);
            CASE(push_argument)
                PUSH_FROM(2);
            CASE(push_this)
                PUSH_FROM(3);
            CASE(push_that)
                PUSH_FROM(4);
            CASE(push_fixed)
                NEED_PUSH();
                ram[sp++] = ram[in->small];
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                DISPATCH();
            CASE(pop_local)
                POP_TO(1);
            CASE(pop_argument)
                POP_TO(2);
            CASE(pop_this)
                POP_TO(3);
            CASE(pop_that)
                POP_TO(4);
            CASE(pop_fixed)
                NEED_WORDS(1);
                ram[in->small] = ram[--sp];
                ++pc;
                DISPATCH();
            CASE(add)
                BINARY(static_cast<uint16_t>(x) + static_cast<uint16_t>(y));
            CASE(sub)
                BINARY(static_cast<uint16_t>(x) - static_cast<uint16_t>(y));
            CASE(neg)
                UNARY(-static_cast<uint16_t>(x));
            CASE(eq)
                BINARY(x == y ? -1 : 0);
            CASE(gt)
                BINARY(x > y ? -1 : 0);
            CASE(lt)
                BINARY(x < y ? -1 : 0);
            CASE(bit_and)
                BINARY(x & y);
            CASE(bit_or)
                BINARY(x | y);
            CASE(bit_not)
                UNARY(~x);
            CASE(go_to)
                pc = in->big;
                DISPATCH();
            CASE(if_go_to)
                NEED_WORDS(1);
                pc = ram[--sp] != 0 ? in->big : pc + 1;
                DISPATCH();
            CASE(function)
            {
                const int k = in->small;
                if (sp < stack_base || sp + k > stack_end)
                {
                    what = "function";
                    goto stack_fault;
                }
                // Few locals: a loop, not a call.
                for (int i = 0; i < k; ++i)
                    ram[sp + i] = 0;
                sp += k;
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                DISPATCH();
            }
            CASE(call)
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
                PUSH_FRAME();
                if (sp > max_sp)
                    max_sp = sp;
                pc = functions[in->big].entry;
                DISPATCH();
            }
            CASE(call_multiply)
            CASE(call_divide)
            CASE(call_min)
            CASE(call_max)
            {
                if (kind == 2 && instruments_.trace != nullptr)
                    goto library_call;  // the trace shows every call
                const int first = sp - 2;
                LIBRARY_CALL_BOUNDS(2);  // as call_library, with the same reports
                int16_t x, y;
                LOAD(first, x);
                LOAD(first + 1, y);
                int16_t value;
                if (!arithmetic_value(in->op, x, y, value))
                    goto library_call;
                ++calls_;
                if (kind == 2)
                    profile_leaf_call(p_.library_functions[in->big], target_ - remaining - 1);
                STORE(first, value);
                sp = first + 1;
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                DISPATCH();
            }
            CASE(call_library)
            library_call:
            {
                // The arguments stay on the stack while the function runs,
                // as they would under a frame of VM code; its value then
                // takes the place of the first, as a return leaves it.
                const int count = in->small;
                const int first = sp - count;
                LIBRARY_CALL_BOUNDS(count);
                int16_t arguments[4] = {0, 0, 0, 0};
                for (int i = 0; i < count; ++i)
                    LOAD(first + i, arguments[i]);
                ++calls_;
                SAVE();
                frames_.push_back({p_.library_functions[in->big], pc + 1, library_token, 0});
                if (kind == 2)
                {
                    // The call command is the library function's own step.
                    frames_changed(target_ - remaining - 1);
                    trace_call(p_.library_functions[in->big], arguments, count, pc);
                }
                const int16_t value = call_library(in->big, arguments);
                frames_.pop_back();
                if (kind == 2)
                {
                    frames_changed(target_ - remaining_);
                    trace_return(p_.library_functions[in->big], value);
                }
                RELOAD();
                sp = first;
                STORE(first, value);
                sp = first + 1;
                if (sp > max_sp)
                    max_sp = sp;
                ++pc;
                DISPATCH();
            }
            CASE(return_)
            do_return:
            {
                const int frame = ram[1];
                // LCL at the innermost frame lies in 261 to 2048, as its call
                // left it: its words need no bounds.
                if (__builtin_expect(frame != frames_.back().lcl || ram[frame - 5] != frames_.back().token, 0))
                {
                    int16_t token;
                    LOAD(frame - 5, token);
                    if (frame - 1 > keyboard_address)
                    {
                        bad = frame - 1;
                        goto address_fault;
                    }
                    if (frame != frames_.back().lcl || token != frames_.back().token)
                    {
                        SAVE();
                        const size_t leaving = frame_left_by_return(frame, token, base);
                        NEED_WORDS(1);
                        // The frames inside the one left go with it.
                        frames_.resize(leaving + 1);
                    }
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
                const int returning = frames_.back().function;
                frames_.pop_back();
                if (kind == 2)
                {
                    frames_changed(target_ - remaining);
                    trace_return(returning, value);
                }
                if (frames_.top() == outermost)
                {
                    SAVE();
                    return;
                }
                DISPATCH();
            }
            CASE(call_undefined)
                SAVE();
                fault(p_.undefined[static_cast<size_t>(in->big)] + " is defined by no file and not by the library");
            CASE(end_of_function)
                ++remaining; // not a command of the program: no step
                SAVE();
                fault("the end of " + functions[in->big].name + " was reached without a return");
            CASE(fused_move)
            {
                FUSED_RUN(2);
                int from = 0, to = 0;
                FUSED_SOURCE(in->first, in->a, from);
                FUSED_ADDRESS(in->target, in->small, to);
                const int16_t v = FUSED_VALUE(in->first, in->a, from);
                ram[sp] = v;
                ram[to] = v;
                FUSED_DONE(sp + 1, 2);
            }
            CASE(fused_push2)
            {
                FUSED_RUN(2);
                FUSED_PUSH2();
                FUSED_DONE(sp, 2);
            }
            CASE(fused_apply)
            {
                FUSED_RUN(2);
                int from = 0;
                FUSED_SOURCE(in->first, in->a, from);
                const int16_t y = FUSED_VALUE(in->first, in->a, from);
                ram[sp] = y;
                ram[sp - 1] = binary_value(in->operation, ram[sp - 1], y);
                FUSED_DONE(sp + 1, 2);
            }
            CASE(fused_expression)
            {
                FUSED_EXPRESSION(3);
                ram[sp++] = value;
                pc += 3;
                DISPATCH();
            }
            CASE(fused_assign)
            {
                int to = 0;
                FUSED_ADDRESS(in->target, in->small, to);
                FUSED_EXPRESSION(4);
                ram[sp] = value;
                ram[to] = value;
                pc += 4;
                DISPATCH();
            }
            CASE(fused_branch)
            {
                FUSED_EXPRESSION(4);
                ram[sp] = value;
                pc = value != 0 ? in->big : pc + 4;
                DISPATCH();
            }
            CASE(fused_branch_not)
            {
                FUSED_EXPRESSION(5);
                ram[sp] = static_cast<int16_t>(~value);
                pc = value != -1 ? in->big : pc + 5;
                DISPATCH();
            }
            CASE(fused_arithmetic)
            {
                // The call's bounds hold with SP in the range of a fused run.
                if (kind == 2 && instruments_.trace != nullptr)
                    FALL_BACK();
                FUSED_RUN(2);
                int from = 0;
                FUSED_SOURCE(in->first, in->a, from);
                const int16_t y = FUSED_VALUE(in->first, in->a, from);
                const int16_t x = ram[sp - 1];
                int16_t value;
                FUSED_ARITHMETIC();
                ram[sp] = y;
                if (sp + 1 > max_sp)
                    max_sp = sp + 1;
                --remaining;
                ++calls_;
                if (kind == 2)
                    profile_leaf_call(p_.library_functions[in->big], target_ - remaining - 1);
                ram[sp - 1] = value;
                pc += 2;
                if (in->target != 0 && remaining != 0)
                {
                    --remaining;
                    goto do_return;
                }
                DISPATCH();
            }
            CASE(fused_arithmetic2)
            {
                if (kind == 2 && instruments_.trace != nullptr)
                    FALL_BACK();
                FUSED_RUN(3);
                int from = 0, from2 = 0;
                FUSED_SOURCE(in->first, in->a, from);
                FUSED_SOURCE(in->second, in->b, from2);
                const int16_t x = FUSED_VALUE(in->first, in->a, from);
                ram[sp] = x;
                const int16_t y = FUSED_VALUE(in->second, in->b, from2);
                int16_t value;
                FUSED_ARITHMETIC();
                ram[sp + 1] = y;
                if (sp + 2 > max_sp)
                    max_sp = sp + 2;
                remaining -= 2;
                ++calls_;
                if (kind == 2)
                    profile_leaf_call(p_.library_functions[in->big], target_ - remaining - 1);
                ram[sp++] = value;
                pc += 3;
                DISPATCH();
            }
            CASE(fused_pop_push)
            {
                FUSED_RUN(2);
                int to = 0;
                FUSED_ADDRESS(in->target, in->small, to);
                ram[to] = ram[--sp];
                ++pc;
                // The push, whose base the pop may have changed; when it
                // cannot run here it runs as the next step of its own.
                int from = 0;
                if (in->first != 0)
                {
                    from = ram[in->first] + in->a;
                    if (static_cast<unsigned>(from - 1) >= 24576u ||
                        (kind != 0 && check_now && (in->first == 3 || in->first == 4) &&
                         static_cast<unsigned>(from) < unsigned(screen_base) && block_of[from] <= 0))
                        DISPATCH();
                }
                ram[sp++] = FUSED_VALUE(in->first, in->a, from);
                --remaining;
                ++pc;
                DISPATCH();
            }
            CASE(fused_return)
            {
                FUSED_RUN(2);
                int from = 0;
                FUSED_SOURCE(in->first, in->a, from);
                ram[sp] = FUSED_VALUE(in->first, in->a, from);
                ++sp;
                if (sp > max_sp)
                    max_sp = sp;
                --remaining;
                ++pc;
                goto do_return;
            }
            CASE(fused_push2_call)
            {
                FUSED_CALL_ROOM(2);
                FUSED_PUSH2();
                remaining -= 2;
                pc += 2;
                goto call_entry;
            }
            CASE(fused_push_call)
            {
                FUSED_CALL_ROOM(1);
                int from = 0;
                FUSED_SOURCE(in->first, in->a, from);
                ram[sp++] = FUSED_VALUE(in->first, in->a, from);
                --remaining;
                ++pc;
                goto call_entry;
            }
            CASE(fused_call)
                FUSED_CALL_ROOM(0);
            call_entry:
            {
                const int k = in->target;
                PUSH_FRAME();
                // The function command: its locals.
                --remaining;
                for (int i = 0; i < k; ++i)
                    ram[sp + i] = 0;
                sp += k;
                if (sp > max_sp)
                    max_sp = sp;
                pc = in->next;
                // A method's `push argument 0; pop pointer 0`, when the
                // steps and the stack allow; otherwise they run as steps of
                // their own.
                if (in->operation != 0 && remaining >= 2 && sp < stack_end)
                {
                    const int argument = ram[2];
                    if (static_cast<unsigned>(argument - 1) < 24576u)
                    {
                        const int16_t self = ram[argument];
                        ram[sp] = self;
                        if (sp + 1 > max_sp)
                            max_sp = sp + 1;
                        ram[3] = self;
                        remaining -= 2;
                        pc += 2;
                    }
                }
                DISPATCH();
            }
            default:
                // The loader makes no other code: the dispatch needs no range check.
                __builtin_unreachable();
            }
        }

    stack_fault:
        SAVE();
        if (std::strcmp(what, "pop") == 0)
        {
            // A command taking two words from SP 257 fails at its second
            // pop, with SP at 256.
            if (sp >= 0 && sp <= stack_base + 1)
                fault("stack underflow: a pop with SP at " + std::to_string(std::min(sp, stack_base)));
        }
        else if (sp >= stack_base)
            fault(std::string("stack overflow: ") + (std::strcmp(what, "push") == 0 ? "a push" : std::string("a ") + what) +
                  " would write above address 2047");
        fault("SP is " + std::to_string(sp) + ", outside the stack (256 to 2047)");
    address_fault:
        SAVE();
        fault("address " + std::to_string(bad) + " is outside the RAM (0 to 24576)");
    heap_fault_found:
        SAVE();
        heap_fault(bad, base_value);
#undef SAVE
#undef RELOAD
#undef NEED_PUSH
#undef NEED_WORDS
#undef LOAD
#undef STORE
#undef CHECK_BLOCK
#undef PUSH_FROM
#undef POP_TO
#undef BINARY
#undef UNARY
#undef FALL_BACK
#undef FUSED_ADDRESS
#undef FUSED_SOURCE
#undef FUSED_VALUE
#undef FUSED_RUN
#undef FUSED_EXPRESSION
#undef FUSED_ARITHMETIC
#undef PUSH_FRAME
#undef LIBRARY_CALL_BOUNDS
#undef FUSED_DONE
#undef FUSED_CALL_ROOM
#undef FUSED_PUSH2
#undef STEP
#undef DISPATCH
#undef CASE
#pragma GCC diagnostic pop
    }

    void machine::run_loop_plain(size_t base)
    {
        run_loop_body<0>(base);
    }

    void machine::run_loop_checked(size_t base)
    {
        run_loop_body<1>(base);
    }

    void machine::run_loop_instrumented(size_t base)
    {
        run_loop_body<2>(base);
    }

    void machine::run_loop(size_t base)
    {
        if (instrumented_)
            run_loop_instrumented(base);
        else if (checking_)
            run_loop_checked(base);
        else
            run_loop_plain(base);
    }

    // A return whose LCL is not the innermost frame's, or whose return
    // address there is not the innermost frame's. The return address is read
    // at LCL - 5 all the same: when LCL points at a frame that this loop runs
    // and that word is the return address its call wrote, the return leaves
    // that frame and the frames inside it; when the word is the innermost
    // frame's return address, it leaves the innermost frame. Anything else
    // is a fault that says which it was. Returns the index of the frame left.
    size_t machine::frame_left_by_return(int lcl, int16_t return_address, size_t base)
    {
        for (size_t i = frames_.size(); i-- > base;)
            if (frames_[i].lcl == lcl && frames_[i].token == return_address)
                return i;
        const size_t innermost = frames_.size() - 1;
        if (frames_[innermost].token == return_address)
            return innermost;
        const std::string word = "RAM[" + std::to_string(lcl - 5) + "]";
        if (frames_[innermost].lcl == lcl)
            fault("the return address in the frame, " + word + ", was overwritten");
        for (size_t i = innermost; i-- > 0;)
            if (frames_[i].lcl == lcl && p_.functions[frames_[i].function].defined())
            {
                const std::string &name = p_.functions[frames_[i].function].name;
                if (frames_[i].token != return_address)
                    fault("LCL points at the frame of " + name + ", whose return address, " + word +
                          ", was overwritten");
                fault("LCL points at the frame of " + name + ", outside the call of " +
                      p_.functions[frames_[base].function].name + " by the library, which a return cannot leave");
            }
        fault("LCL is " + std::to_string(lcl) + ", which points at no frame of the call stack (" + word + " holds " +
              std::to_string(return_address) + ", no return address of the innermost frame)");
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
            frames_.push_back({function, -1, library_token, 0});
            if (instrumented_)
            {
                frames_changed(steps());
                trace_call(function, arguments, count, pc_);
            }
            const int16_t value = call_library(f.library, arguments);
            frames_.pop_back();
            if (instrumented_)
            {
                frames_changed(steps());
                trace_return(function, value);
            }
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
        frames_.push_back({function, -1, library_token, static_cast<int16_t>(sp)});
        if (instrumented_)
        {
            frames_changed(steps());
            trace_call(function, arguments, count, pc_);
        }
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
        int c = EOF;
        for (std::FILE *in = options_.keyboard_input; in != nullptr;)
        {
            // A signal that came while the run waited for a key ends it
            // there; the read goes on after any other.
            errno = 0;
            c = std::fgetc(in);
            if (pending_interrupt != 0)
                interrupted();
            if (c != EOF || errno != EINTR)
                break;
            std::clearerr(in);
        }
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
        last_text_byte_ = static_cast<unsigned char>(text_.back());
        text_.clear();
    }

    // What is at an address out of every block, for the report of --check.
    void machine::heap_fault(int address, int base_value)
    {
        const std::string at = "address " + std::to_string(address);
        auto words = [](int n) { return std::to_string(n) + (n == 1 ? " word" : " words"); };
        const int32_t id = block_of_[address];
        if (id < 0)
        {
            const heap_block &b = blocks_[static_cast<size_t>(-id - 1)];
            fault(at + " is in a block freed at " + jack_position(b.freed, false));
        }
        // The nearest block given out around the address: the one it runs
        // past the end of, or the one whose size word it is.
        const heap_block *before = nullptr, *after = nullptr;
        for (const heap_block &b : blocks_)
        {
            if (block_of_[b.address] <= 0)
                continue;
            if (b.address + b.words <= address && (before == nullptr || b.address > before->address))
                before = &b;
            if (b.address > address && (after == nullptr || b.address < after->address))
                after = &b;
        }
        if (after != nullptr && after->address - 1 == address)
            fault(at + " is the allocator's word before the " + std::to_string(after->words) +
                  "-word block given out at " + jack_position(after->given, false));
        if (before != nullptr && address >= heap_base && (after == nullptr || address < after->address - 1))
            fault(at + " is " + words(address - (before->address + before->words) + 1) + " past the end of the " +
                  std::to_string(before->words) + "-word block given out at " + jack_position(before->given, false));
        fault(at + " is not in any block" + (base_value == 0 ? " (a null object?)" : ""));
    }

    void machine::stop(run_status status, const std::string &what)
    {
        status_ = status;
        const jack_place here = jack_place_of(p_, pc_);
        if (here.file >= 0)
            report_ = jack_position(here) + (status == status_failed ? ": error: " : ": note: ") + what + "\n" +
                      jack_source_lines(here) + call_stack();
        else
            report_ = "vmrun: " + what + "\n" + location() + call_stack();
        throw run_ended();
    }

    std::string machine::where() const
    {
        const jack_place here = place();
        if (here.file < 0)
            return location() + call_stack();
        return "at " + jack_position(here) + "\n" + jack_source_lines(here) + call_stack();
    }

    std::string machine::jack_position(const jack_place &place, bool column) const
    {
        if (place.file < 0)
            return "an unknown place";
        std::string out = p_.jack_files[static_cast<size_t>(place.file)] + ":" + std::to_string(place.line);
        if (column)
            out += ":" + std::to_string(place.column);
        return out;
    }

    // The Jack line of a place and a caret under its column, when the
    // Jack file can be read.
    std::string machine::jack_source_lines(const jack_place &place) const
    {
        std::string text;
        try
        {
            text = read_text(p_.jack_files[static_cast<size_t>(place.file)]);
        }
        catch (const load_error &)
        {
            return "";
        }
        return Jack_Source::caret_lines(Jack_Source::line_of(text, place.line), place.column);
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
        // Each frame as "Main.f (Main.jack:5)", innermost first; a run of
        // alike frames, as a recursion makes, is one line and a count.
        std::vector<std::string> lines;
        const size_t n = frames_.size();
        std::string previous;
        size_t alike = 0;
        auto flush_alike = [&] {
            if (alike > 0)
                lines.push_back("... " + with_commas(alike) + " more frame" + (alike == 1 ? "" : "s") + " of " +
                                previous);
            alike = 0;
        };
        for (size_t k = 0; k < n; ++k)
        {
            const size_t i = n - 1 - k;
            const function_entry &f = p_.functions[frames_[i].function];
            std::string frame = f.name;
            if (!f.defined())
                frame += " (library)";
            else
            {
                const int pc = i + 1 < n ? frames_[i + 1].return_pc - 1 : pc_;
                const jack_place jack = jack_place_of(p_, pc);
                if (jack.file >= 0)
                    frame += " (" + jack_position(jack, false) + ")";
                else if (pc >= 0)
                    frame += " (" + p_.files[p_.places[pc].file] + ":" + std::to_string(p_.places[pc].line) + ")";
            }
            if (frame == previous)
            {
                ++alike;
                continue;
            }
            flush_alike();
            lines.push_back(frame);
            previous = frame;
        }
        flush_alike();

        std::string out = "call stack, innermost first:\n";
        // A runaway recursion through several functions would still fill a
        // screen; its middle says nothing.
        const size_t shown = 20;
        for (size_t k = 0; k < lines.size(); ++k)
        {
            if (lines.size() > 2 * shown && k == shown)
            {
                out += "    ... " + with_commas(lines.size() - 2 * shown) + " more ...\n";
                k = lines.size() - shown - 1;
                continue;
            }
            out += "    " + lines[k] + "\n";
        }
        return out;
    }
}
