// What a live run (vmrun --serve) hooks into the machine. A headless run
// has no hooks, and its loop runs exactly as before: the hooks are called
// only at the loop's events, which the hooks themselves space out.
#ifndef VM_LIVE_H
#define VM_LIVE_H

#include <cstdint>

namespace vm_runner
{
    class machine;

    class live_hooks
    {
    public:
        virtual ~live_hooks() = default;

        // Called before any step and then whenever the number of steps it
        // last returned have run (sooner when a key-script line or the step
        // limit falls in between); returns how many steps may run before the
        // next call, at least 1. It may block (a pause) and may end the run
        // (machine::interrupt).
        virtual uint64_t checkpoint(machine &m) = 0;

        // The next key for Keyboard.readChar, readLine and readInt.
        virtual int16_t next_key(machine &m) = 0;

        // Sys.wait(milliseconds), milliseconds >= 0.
        virtual void wait(machine &m, int milliseconds) = 0;
    };
}

#endif
