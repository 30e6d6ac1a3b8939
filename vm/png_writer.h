// The screen as a PNG image: 512 x 256, one bit a pixel, black on white,
// deflated where the build has zlib and in stored blocks where it has not.
#ifndef VM_PNG_WRITER_H
#define VM_PNG_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace vm_runner
{
    // The bytes of the PNG file of the screen words of ram.
    std::string screen_png(const int16_t *ram);

    // The screen as an animated PNG: its frames as they are added, each
    // shown a tenth of a second and the last one three seconds. A reader
    // that knows only plain PNG shows the first frame.
    class screen_recorder
    {
    public:
        // Adds the screen of ram as a frame unless it is the last one added.
        void add(const int16_t *ram);
        size_t frames() const { return frames_.size(); }
        std::string file() const;

    private:
        std::vector<std::string> frames_;  // the zlib stream of each frame
        std::vector<int16_t> last_;
    };

    uint32_t crc32(const unsigned char *bytes, size_t size, uint32_t crc = 0);
    uint32_t adler32(const unsigned char *bytes, size_t size);
}

#endif
