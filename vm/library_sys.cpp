// Sys: the start and end of a run; and the library's table of functions.
#include "vm/machine.h"

namespace vm_runner
{
    namespace library
    {
        int16_t Sys_init(machine &m, const int16_t *)
        {
            m.call(lib_Memory_init, {});
            m.call(lib_Math_init, {});
            m.call(lib_Output_init, {});
            m.call(lib_Screen_init, {});
            m.call(lib_Keyboard_init, {});
            m.call_main();
            m.call(lib_Sys_halt, {});
            return 0;
        }

        int16_t Sys_halt(machine &m, const int16_t *)
        {
            m.halt();
        }

        int16_t Sys_error(machine &m, const int16_t *a)
        {
            for (char c : {'E', 'R', 'R'})
                m.call(lib_Output_printChar, {static_cast<int16_t>(c)});
            m.call(lib_Output_printInt, {a[0]});
            m.fail_with_error_code(a[0]);
        }

        int16_t Sys_wait(machine &m, const int16_t *a)
        {
            // A headless run is not paced by the clock: waiting takes no
            // time there; a live run waits.
            if (a[0] < 0)
                m.error(1);
            else
                m.wait(a[0]);
            return 0;
        }
    }

    const library_function library_table[library_size] = {
#define VM_LIBRARY(cls, fn, n) {#cls "." #fn, n, library::cls##_##fn},
#include "vm/library_functions.def"
#undef VM_LIBRARY
    };

    const char *error_meaning(int code)
    {
        switch (code)
        {
        case 1:
            return "Sys.wait: the duration is negative";
        case 2:
            return "Array.new: the size is not positive";
        case 3:
            return "Math.divide: division by zero";
        case 4:
            return "Math.sqrt: the argument is negative";
        case 5:
            return "Memory.alloc: the size is not positive";
        case 6:
            return "Memory.alloc: no free block is large enough";
        case 7:
            return "Screen.drawPixel: the pixel is outside the screen";
        case 8:
            return "Screen.drawLine: an end is outside the screen";
        case 9:
            return "Screen.drawRectangle: a corner is outside the screen, or the corners are out of order";
        case 12:
            return "Screen.drawCircle: the centre is outside the screen";
        case 13:
            return "Screen.drawCircle: the radius is negative or above 181";
        case 14:
            return "String.new: the capacity is negative";
        case 15:
            return "String.charAt: the index is outside the string";
        case 16:
            return "String.setCharAt: the index is outside the string";
        case 17:
            return "String.appendChar: the string is full";
        case 18:
            return "String.eraseLastChar: the string is empty";
        case 19:
            return "String.setInt: the capacity is too small for the number";
        case 20:
            return "Output.moveCursor: the position is outside the grid";
        default:
            return nullptr;
        }
    }
}
