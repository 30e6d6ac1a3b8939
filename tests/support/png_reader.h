// A PNG reader for the tests, written from the file format alone: every
// chunk's CRC checked, the zlib stream inflated (stored blocks without the
// library), and the frames of an animated PNG taken apart.
#ifndef TESTS_SUPPORT_PNG_READER_H
#define TESTS_SUPPORT_PNG_READER_H

#include <string>
#include <vector>

namespace test_support
{
    struct png_frame
    {
        std::string rows;  // each row its filter byte and its pixel bytes
        int delay_numerator = 0, delay_denominator = 0;
    };

    struct png_image
    {
        int width = 0, height = 0, bit_depth = 0, colour_type = 0;
        bool animated = false;
        int plays = 0;
        // The image as a plain reader shows it, then, when animated, every
        // frame in order (the first being that image when it is one).
        std::string rows;
        std::vector<png_frame> frames;
    };

    // Throws std::runtime_error for anything that is not a well-formed PNG.
    png_image read_png(const std::string &bytes);

    // The black pixels of a 1-bit image as the screen's words: bit b of word
    // 32y + w is the pixel (16w + b, y).
    std::vector<int> screen_words(const std::string &rows);
}

#endif
