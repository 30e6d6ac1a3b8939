// The text grid's font: 8 x 11 cells, one glyph for each of the characters
// 32 to 126, drawn for this project.
#ifndef TOOLS_VMRUN_FONT_H
#define TOOLS_VMRUN_FONT_H

#include <cstdint>

namespace vm_runner
{
    // The 11 rows of the cell for character c, bit i of a row the pixel i
    // from the left; any code outside 32 to 126 gets a filled box.
    const uint8_t *glyph(int c);
}

#endif
