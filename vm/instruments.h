// What a run can be watched with: the profile of its steps by call stack and
// by Jack line, and the traces of its calls and of its steps. A run with
// none of them runs the plain loop, untouched.
#ifndef VM_INSTRUMENTS_H
#define VM_INSTRUMENTS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vm_runner
{
    class screen_recorder;

    struct run_instruments
    {
        bool profile = false;        // steps by call stack, calls by function
        bool profile_lines = false;  // steps by Jack line
        std::FILE *trace = nullptr;        // a line per call and per return
        std::FILE *trace_steps = nullptr;  // a line per step
        // --record: a frame of the screen when it changed, at most every
        // record_every steps, and the last screen.
        screen_recorder *recorder = nullptr;
        uint64_t record_every = 1000000;

        // Whether the loop must feed the instruments step by step or at
        // every call and return.
        bool any() const { return profile || profile_lines || trace != nullptr || trace_steps != nullptr; }
    };

    // The steps of a run by call stack: a tree of the stacks it ran, each
    // node with the steps spent in its innermost frame itself.
    struct profile_node
    {
        int function;  // index into the program's function table; -1 for the root
        int parent;
        uint64_t self_steps = 0;
        std::vector<std::pair<int, int>> children;  // function, node
        // The child last entered: a loop calls the same function again and
        // again, and finds it here without a search.
        int last_function = -1, last_child = -1;
    };

    // A count as reports show it: 1,037.
    inline std::string with_commas(uint64_t n)
    {
        const std::string digits = std::to_string(n);
        std::string out;
        for (size_t i = 0; i < digits.size(); ++i)
        {
            if (i > 0 && (digits.size() - i) % 3 == 0)
                out += ',';
            out += digits[i];
        }
        return out;
    }

    // SIGINT or SIGTERM, as a signal handler sets it: the run ends at its
    // next event as the step limit ends it. 0 while none came.
    extern volatile int pending_interrupt;
}

#endif
