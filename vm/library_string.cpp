// String: an object of capacity c is c + 2 words from Memory.alloc: the
// capacity, the length, then the characters.
#include "vm/machine.h"

#include <string>

namespace vm_runner::library
{
    int16_t String_new(machine &m, const int16_t *a)
    {
        if (a[0] < 0)
        {
            m.error(14);
            return 0;
        }
        // c + 2 words past 32767 cannot even be asked of Memory.alloc; no
        // heap holds them.
        if (a[0] > 32767 - 2)
        {
            m.error(6);
            return 0;
        }
        const int16_t s = m.call(lib_Memory_alloc, {static_cast<int16_t>(a[0] + 2)});
        m.write(s, a[0]);
        m.write(s + 1, 0);
        return s;
    }

    int16_t String_dispose(machine &m, const int16_t *a)
    {
        m.call(lib_Memory_deAlloc, {a[0]});
        return 0;
    }

    int16_t String_length(machine &m, const int16_t *a)
    {
        return m.read(a[0] + 1);
    }

    int16_t String_charAt(machine &m, const int16_t *a)
    {
        if (a[1] < 0 || a[1] >= m.read(a[0] + 1))
        {
            m.error(15);
            return 0;
        }
        return m.read(a[0] + 2 + a[1]);
    }

    int16_t String_setCharAt(machine &m, const int16_t *a)
    {
        if (a[1] < 0 || a[1] >= m.read(a[0] + 1))
        {
            m.error(16);
            return 0;
        }
        m.write(a[0] + 2 + a[1], a[2]);
        return 0;
    }

    int16_t String_appendChar(machine &m, const int16_t *a)
    {
        const int16_t length = m.read(a[0] + 1);
        if (length >= m.read(a[0]))
        {
            m.error(17);
            return a[0];
        }
        m.write(a[0] + 2 + length, a[1]);
        m.write(a[0] + 1, static_cast<int16_t>(length + 1));
        return a[0];
    }

    int16_t String_eraseLastChar(machine &m, const int16_t *a)
    {
        const int16_t length = m.read(a[0] + 1);
        if (length <= 0)
        {
            m.error(18);
            return 0;
        }
        m.write(a[0] + 1, static_cast<int16_t>(length - 1));
        return 0;
    }

    int16_t String_intValue(machine &m, const int16_t *a)
    {
        const int length = m.read(a[0] + 1);
        int i = 0;
        const bool negative = length > 0 && m.read(a[0] + 2) == '-';
        if (negative)
            i = 1;
        uint16_t value = 0;
        for (; i < length; ++i)
        {
            const int c = m.read(a[0] + 2 + i);
            if (c < '0' || c > '9')
                break;
            value = static_cast<uint16_t>(value * 10 + (c - '0'));
        }
        return static_cast<int16_t>(negative ? -value : value);
    }

    int16_t String_setInt(machine &m, const int16_t *a)
    {
        const std::string digits = std::to_string(a[1]);
        if (static_cast<int>(digits.size()) > m.read(a[0]))
        {
            m.error(19);
            return 0;
        }
        for (size_t i = 0; i < digits.size(); ++i)
            m.write(a[0] + 2 + static_cast<int>(i), digits[i]);
        m.write(a[0] + 1, static_cast<int16_t>(digits.size()));
        return 0;
    }

    int16_t String_newLine(machine &, const int16_t *)
    {
        return 128;
    }

    int16_t String_backSpace(machine &, const int16_t *)
    {
        return 129;
    }

    int16_t String_doubleQuote(machine &, const int16_t *)
    {
        return 34;
    }
}
