// The screen words of the RAM as pixels: 512 x 256, 32 words a row, bit b of
// word 16384 + 32y + w the pixel (16w + b, y), 1 black.
#ifndef TOOLS_VMRUN_SCREEN_H
#define TOOLS_VMRUN_SCREEN_H

#include <cstdint>

namespace vm_runner
{
    const int screen_width = 512;
    const int screen_height = 256;

    inline bool on_screen(int x, int y)
    {
        return x >= 0 && x < screen_width && y >= 0 && y < screen_height;
    }

    // Pixels x1 to x2 of row y (all on the screen, x1 <= x2) black or white.
    void fill_span(int16_t *ram, int y, int x1, int x2, bool black);

    inline void set_pixel(int16_t *ram, int x, int y, bool black)
    {
        fill_span(ram, y, x, x, black);
    }

    // The 8 x 11 cell of the text grid at row r, column c gets a glyph: 11
    // rows, bit i of each the pixel i from the left.
    void draw_cell(int16_t *ram, int row, int column, const uint8_t *rows);
}

#endif
