// The painting without colour has a fast path per processor; both it and the
// portable path must paint every block exactly as the byte-by-byte painting
// does. The file is compiled here as the fuzz target compiles it, without
// its main.
#define JACK_FUZZING
#include "tools/diffpaint/diffpaint.cpp"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace
{
    // The reading and writing around the blocks is tested through the
    // program itself.
    [[maybe_unused]] const auto reading_loop = paint;

    template <typename Paint>
    std::string painted(const std::vector<unsigned char> &block, Paint paint)
    {
        std::vector<unsigned char> in(block);
        in.resize(block.size() + slack, 0);
        std::vector<char> out(block.size() * 15 + 64);
        return std::string(out.data(), paint(in.data(), block.size(), out.data()));
    }

    TEST(PaintBlock, EveryPathPaintsAsTheBytewisePainting)
    {
        std::mt19937 rng(11);
        // How often a byte is not printable: never, now and then, mostly.
        for (unsigned per_mille : {0u, 50u, 300u, 1000u})
            for (int n = 0; n < 400; n++)
            {
                std::vector<unsigned char> block(rng() % 200);
                for (unsigned char &b : block)
                    b = rng() % 1000 < per_mille ? static_cast<unsigned char>(rng() % 256)
                                                 : static_cast<unsigned char>(32 + rng() % 95);
                const std::string expected = painted(block, [](const unsigned char *in, size_t size, char *out) {
                    bool line_start = true;
                    return paint_block(in, size, out, false, line_start);
                });
                SCOPED_TRACE(expected);
                EXPECT_EQ(painted(block, paint_plain_block<plain_scanner>), expected);
                EXPECT_EQ(painted(block, paint_plain_block<fast_scanner>), expected);
            }
    }
}
