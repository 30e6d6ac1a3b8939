// diffpaint's copy loop, with colour when the input's first byte is odd; and
// every path of the painting without colour against the bytewise one.
#include "tools/diffpaint/diffpaint.cpp"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, 1) < 0)
        std::abort();
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char nothing[1];
    std::FILE *input = fmemopen(size == 0 ? static_cast<void *>(nothing) : const_cast<uint8_t *>(data), size, "rb");
    if (input == nullptr)
        std::abort();
    std::FILE *saved = stdin;
    stdin = input;
    const bool colour = size > 0 && (data[0] & 1) != 0;
    if (paint(colour) != 0)
        std::abort();
    stdin = saved;
    std::fclose(input);

    if (size <= block_size)
    {
        std::vector<unsigned char> in(data, data + size);
        in.resize(size + slack, 0);
        std::vector<char> out(size * 15 + 64);
        bool line_start = true;
        const std::string expected(out.data(), paint_block(in.data(), size, out.data(), false, line_start));
        if (std::string(out.data(), paint_plain_block<plain_scanner>(in.data(), size, out.data())) != expected ||
            std::string(out.data(), paint_plain_block<fast_scanner>(in.data(), size, out.data())) != expected)
            std::abort();
    }
    return 0;
}
