// Keyboard: the key held (the keyboard word, which the key script sets) and
// the keys typed (standard input, echoed on the grid).
#include "vm/machine.h"

#include <vector>

namespace vm_runner::library
{
    int16_t Keyboard_init(machine &, const int16_t *)
    {
        return 0;
    }

    int16_t Keyboard_keyPressed(machine &m, const int16_t *)
    {
        return m.ram()[keyboard_address];
    }

    int16_t Keyboard_readChar(machine &m, const int16_t *)
    {
        const int16_t key = m.next_key();
        m.call(lib_Output_printChar, {key});
        return key;
    }

    int16_t Keyboard_readLine(machine &m, const int16_t *a)
    {
        m.call(lib_Output_printString, {a[0]});
        std::vector<int16_t> keys;
        for (;;)
        {
            const int16_t key = m.next_key();
            if (key == 128)
            {
                m.call(lib_Output_printChar, {key});
                break;
            }
            if (key == 129)
            {
                // Nothing to take back at the start of the line: the message
                // stays as it is.
                if (!keys.empty())
                {
                    keys.pop_back();
                    m.call(lib_Output_backSpace, {});
                }
                continue;
            }
            keys.push_back(key);
            m.call(lib_Output_printChar, {key});
        }
        // A line of more keys than a word can count has no string to hold
        // it: the error a capacity beyond the heap gives.
        if (keys.size() > 32767)
        {
            m.error(6);
            return 0;
        }
        const int16_t s = m.call(lib_String_new, {static_cast<int16_t>(keys.size())});
        for (int16_t key : keys)
            m.call(lib_String_appendChar, {s, key});
        return s;
    }

    int16_t Keyboard_readInt(machine &m, const int16_t *a)
    {
        const int16_t s = m.call(lib_Keyboard_readLine, {a[0]});
        const int16_t value = m.call(lib_String_intValue, {s});
        // The line is the library's own: freed, so that reading numbers in a
        // loop does not use up the heap.
        m.call(lib_String_dispose, {s});
        return value;
    }
}
