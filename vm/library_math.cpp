// Math: 16-bit arithmetic that the VM language lacks.
#include "vm/machine.h"

#include <cmath>

namespace vm_runner::library
{
    int16_t Math_init(machine &, const int16_t *)
    {
        return 0;
    }

    int16_t Math_abs(machine &, const int16_t *a)
    {
        // abs(-32768) wraps back to -32768.
        return static_cast<int16_t>(a[0] < 0 ? -static_cast<uint16_t>(a[0]) : a[0]);
    }

    int16_t Math_multiply(machine &, const int16_t *a)
    {
        return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(a[0]) * a[1]));
    }

    int16_t Math_divide(machine &m, const int16_t *a)
    {
        if (a[1] == 0)
        {
            m.error(3);
            return 0;
        }
        // Truncated toward zero; -32768 / -1 wraps to -32768.
        return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(a[0]) / a[1]));
    }

    int16_t Math_min(machine &, const int16_t *a)
    {
        return a[0] < a[1] ? a[0] : a[1];
    }

    int16_t Math_max(machine &, const int16_t *a)
    {
        return a[0] > a[1] ? a[0] : a[1];
    }

    int16_t Math_sqrt(machine &m, const int16_t *a)
    {
        if (a[0] < 0)
        {
            m.error(4);
            return 0;
        }
        // The largest y with y * y <= a: the root in double precision is
        // exact to well within one for a 16-bit a, and is then made exact.
        int y = static_cast<int>(std::sqrt(static_cast<double>(a[0])));
        while (y * y > a[0])
            --y;
        while ((y + 1) * (y + 1) <= a[0])
            ++y;
        return static_cast<int16_t>(y);
    }
}
