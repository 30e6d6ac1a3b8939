#include "vm/screen.h"

#include "vm/machine.h"

namespace vm_runner
{
    void fill_span(int16_t *ram, int y, int x1, int x2, bool black)
    {
        uint16_t *row = reinterpret_cast<uint16_t *>(ram + screen_base + 32 * y);
        const int w1 = x1 >> 4, w2 = x2 >> 4;
        for (int w = w1; w <= w2; ++w)
        {
            const int from = w == w1 ? x1 & 15 : 0;
            const int to = w == w2 ? x2 & 15 : 15;
            const uint16_t mask = static_cast<uint16_t>((0xffffu >> (15 - to)) & (0xffffu << from));
            row[w] = black ? static_cast<uint16_t>(row[w] | mask) : static_cast<uint16_t>(row[w] & ~mask);
        }
    }

    void draw_cell(int16_t *ram, int row, int column, const uint8_t *rows)
    {
        const int shift = (column & 1) * 8;
        for (int k = 0; k < 11; ++k)
        {
            uint16_t &word = reinterpret_cast<uint16_t *>(ram)[screen_base + 32 * (11 * row + k) + column / 2];
            word = static_cast<uint16_t>((word & ~(0xffu << shift)) | (rows[k] << shift));
        }
    }
}
