// Output: the 23 x 64 text grid on the screen, and the same text on
// standard output.
#include "vm/font.h"
#include "vm/machine.h"
#include "vm/screen.h"

#include <cstring>
#include <string>

namespace vm_runner::library
{
    namespace
    {
        const int rows = 23;
        const int columns = 64;

        void next_row(machine &m)
        {
            m.cursor_column = 0;
            m.cursor_row = m.cursor_row + 1 == rows ? 0 : m.cursor_row + 1;
        }
    }

    int16_t Output_init(machine &m, const int16_t *)
    {
        std::memset(m.ram() + screen_base, 0, sizeof(int16_t) * 32 * 11 * rows);
        m.cursor_row = 0;
        m.cursor_column = 0;
        return 0;
    }

    int16_t Output_printChar(machine &m, const int16_t *a)
    {
        const int c = a[0];
        if (c == 128)
            return m.call(lib_Output_println, {});
        if (c == 129)
            return m.call(lib_Output_backSpace, {});
        draw_cell(m.ram(), m.cursor_row, m.cursor_column, glyph(c));
        m.print_text(c >= 32 && c <= 126 ? static_cast<char>(c) : '?');
        if (++m.cursor_column == columns)
            next_row(m);
        return 0;
    }

    int16_t Output_printString(machine &m, const int16_t *a)
    {
        const int length = m.call(lib_String_length, {a[0]});
        for (int i = 0; i < length; ++i)
            m.call(lib_Output_printChar, {m.call(lib_String_charAt, {a[0], static_cast<int16_t>(i)})});
        return 0;
    }

    int16_t Output_printInt(machine &m, const int16_t *a)
    {
        for (char c : std::to_string(a[0]))
            m.call(lib_Output_printChar, {static_cast<int16_t>(c)});
        return 0;
    }

    int16_t Output_println(machine &m, const int16_t *)
    {
        m.print_text('\n');
        next_row(m);
        return 0;
    }

    int16_t Output_backSpace(machine &m, const int16_t *)
    {
        m.print_text('\b');
        if (m.cursor_column > 0)
            --m.cursor_column;
        else if (m.cursor_row > 0)
        {
            --m.cursor_row;
            m.cursor_column = columns - 1;
        }
        static const uint8_t blank[11] = {};
        draw_cell(m.ram(), m.cursor_row, m.cursor_column, blank);
        return 0;
    }

    int16_t Output_moveCursor(machine &m, const int16_t *a)
    {
        if (a[0] < 0 || a[0] >= rows || a[1] < 0 || a[1] >= columns)
        {
            m.error(20);
            return 0;
        }
        m.cursor_row = a[0];
        m.cursor_column = a[1];
        return 0;
    }
}
