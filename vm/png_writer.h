// The screen as a PNG image: 512 x 256, one bit a pixel, black on white,
// deflated where the build has zlib and in stored blocks where it has not.
#ifndef VM_PNG_WRITER_H
#define VM_PNG_WRITER_H

#include <cstdint>
#include <string>

namespace vm_runner
{
    // The bytes of the PNG file of the screen words of ram.
    std::string screen_png(const int16_t *ram);

    uint32_t crc32(const unsigned char *bytes, size_t size, uint32_t crc = 0);
    uint32_t adler32(const unsigned char *bytes, size_t size);
}

#endif
