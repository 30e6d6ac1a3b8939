// Screen: drawing in the current colour, with the pixel rules of each shape.
#include "vm/machine.h"
#include "vm/screen.h"

#include <cstdlib>
#include <cstring>

namespace vm_runner::library
{
    int16_t Screen_init(machine &m, const int16_t *)
    {
        m.colour_black = true;
        return 0;
    }

    int16_t Screen_clearScreen(machine &m, const int16_t *)
    {
        std::memset(m.ram() + screen_base, 0, sizeof(int16_t) * (keyboard_address - screen_base));
        return 0;
    }

    int16_t Screen_setColor(machine &m, const int16_t *a)
    {
        m.colour_black = a[0] != 0;
        return 0;
    }

    int16_t Screen_drawPixel(machine &m, const int16_t *a)
    {
        if (!on_screen(a[0], a[1]))
        {
            m.error(7);
            return 0;
        }
        set_pixel(m.ram(), a[0], a[1], m.colour_black);
        return 0;
    }

    int16_t Screen_drawLine(machine &m, const int16_t *a)
    {
        const int x1 = a[0], y1 = a[1], x2 = a[2], y2 = a[3];
        if (!on_screen(x1, y1) || !on_screen(x2, y2))
        {
            m.error(8);
            return 0;
        }
        int16_t *ram = m.ram();
        const bool black = m.colour_black;
        if (y1 == y2)
        {
            fill_span(ram, y1, std::min(x1, x2), std::max(x1, x2), black);
            return 0;
        }
        if (x1 == x2)
        {
            for (int y = std::min(y1, y2); y <= std::max(y1, y2); ++y)
                set_pixel(ram, x1, y, black);
            return 0;
        }
        const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
        const int sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
        int a_ = 0, b = 0, diff = 0;
        while (a_ <= dx && b <= dy)
        {
            set_pixel(ram, x1 + sx * a_, y1 + sy * b, black);
            if (diff < 0)
            {
                ++a_;
                diff += dy;
            }
            else
            {
                ++b;
                diff -= dx;
            }
        }
        return 0;
    }

    int16_t Screen_drawRectangle(machine &m, const int16_t *a)
    {
        const int x1 = a[0], y1 = a[1], x2 = a[2], y2 = a[3];
        if (!on_screen(x1, y1) || !on_screen(x2, y2) || x1 > x2 || y1 > y2)
        {
            m.error(9);
            return 0;
        }
        for (int y = y1; y <= y2; ++y)
            fill_span(m.ram(), y, x1, x2, m.colour_black);
        return 0;
    }

    int16_t Screen_drawCircle(machine &m, const int16_t *a)
    {
        const int x = a[0], y = a[1], r = a[2];
        if (!on_screen(x, y))
        {
            m.error(12);
            return 0;
        }
        if (r < 0 || r > 181)
        {
            m.error(13);
            return 0;
        }
        int h = r;
        for (int dy = -r; dy <= r; ++dy)
        {
            // h shrinks as |dy| grows toward r and grows again after 0.
            const int limit = r * r - dy * dy;
            h = 0;
            while ((h + 1) * (h + 1) <= limit)
                ++h;
            const int row = y + dy;
            if (row < 0 || row >= screen_height)
                continue;
            const int from = std::max(0, x - h), to = std::min(screen_width - 1, x + h);
            if (from <= to)
                fill_span(m.ram(), row, from, to, m.colour_black);
        }
        return 0;
    }
}
