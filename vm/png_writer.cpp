#include "vm/png_writer.h"

#include "vm/machine.h"
#include "vm/screen.h"

#include <algorithm>
#ifdef JACK_HAVE_ZLIB
#include <zlib.h>
#endif

namespace vm_runner
{
    uint32_t crc32(const unsigned char *bytes, size_t size, uint32_t crc)
    {
        static const struct table_t
        {
            uint32_t entries[256];
            table_t()
            {
                for (uint32_t n = 0; n < 256; ++n)
                {
                    uint32_t c = n;
                    for (int k = 0; k < 8; ++k)
                        c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
                    entries[n] = c;
                }
            }
        } table;
        crc = ~crc;
        for (size_t i = 0; i < size; ++i)
            crc = table.entries[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
        return ~crc;
    }

    uint32_t adler32(const unsigned char *bytes, size_t size)
    {
        uint32_t a = 1, b = 0;
        for (size_t i = 0; i < size; ++i)
        {
            a = (a + bytes[i]) % 65521;
            b = (b + a) % 65521;
        }
        return b << 16 | a;
    }

    namespace
    {
        void put32(std::string &out, uint32_t v);

        // The zlib stream of the bytes: deflated where the library is there,
        // else stored blocks, which every reader takes too.
        std::string zlib_stream(const std::string &bytes)
        {
#ifdef JACK_HAVE_ZLIB
            uLongf size = compressBound(static_cast<uLong>(bytes.size()));
            std::string deflated(size, '\0');
            if (compress2(reinterpret_cast<Bytef *>(&deflated[0]), &size,
                          reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uLong>(bytes.size()),
                          Z_BEST_COMPRESSION) == Z_OK)
            {
                deflated.resize(size);
                return deflated;
            }
#endif
            std::string z = "\x78\x01";
            const size_t block = 65535;
            for (size_t at = 0; at < bytes.size(); at += block)
            {
                const size_t n = std::min(block, bytes.size() - at);
                z += static_cast<char>(at + n == bytes.size() ? 1 : 0);
                z += static_cast<char>(n & 0xff);
                z += static_cast<char>(n >> 8);
                z += static_cast<char>(~n & 0xff);
                z += static_cast<char>((~n >> 8) & 0xff);
                z.append(bytes, at, n);
            }
            put32(z, adler32(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()));
            return z;
        }

        void put32(std::string &out, uint32_t v)
        {
            for (int shift = 24; shift >= 0; shift -= 8)
                out += static_cast<char>((v >> shift) & 0xff);
        }

        void chunk(std::string &out, const char *type, const std::string &data)
        {
            put32(out, static_cast<uint32_t>(data.size()));
            const std::string body = std::string(type, 4) + data;
            out += body;
            put32(out, crc32(reinterpret_cast<const unsigned char *>(body.data()), body.size()));
        }
    }

    namespace
    {
        // Rows of filter byte 0 and 64 bytes, the leftmost pixel in the top
        // bit; PNG's 0 is black, the screen's 1 is.
        std::string screen_rows(const int16_t *ram)
        {
            std::string pixels;
            pixels.reserve(screen_height * (1 + screen_width / 8));
            for (int y = 0; y < screen_height; ++y)
            {
                pixels += '\0';
                for (int w = 0; w < 32; ++w)
                {
                    const uint16_t word = static_cast<uint16_t>(ram[screen_base + 32 * y + w]);
                    for (int half = 0; half < 2; ++half)
                    {
                        unsigned byte = 0;
                        for (int b = 0; b < 8; ++b)
                            if (word >> (8 * half + b) & 1)
                                byte |= 0x80u >> b;
                        pixels += static_cast<char>(~byte & 0xff);
                    }
                }
            }
            return pixels;
        }

        std::string png_header()
        {
            std::string header;
            put32(header, screen_width);
            put32(header, screen_height);
            header += std::string("\x01\x00\x00\x00\x00", 5); // 1 bit, grey, deflate, no filter choice, no interlace
            std::string out = "\x89PNG\r\n\x1a\n";
            chunk(out, "IHDR", header);
            return out;
        }
    }

    std::string screen_png(const int16_t *ram)
    {
        std::string out = png_header();
        chunk(out, "IDAT", zlib_stream(screen_rows(ram)));
        chunk(out, "IEND", "");
        return out;
    }

    void screen_recorder::add(const int16_t *ram)
    {
        if (!frames_.empty() && std::equal(last_.begin(), last_.end(), ram + screen_base))
            return;
        last_.assign(ram + screen_base, ram + screen_base + 8192);
        frames_.push_back(zlib_stream(screen_rows(ram)));
    }

    std::string screen_recorder::file() const
    {
        std::string out = png_header();
        std::string control;
        put32(control, static_cast<uint32_t>(frames_.size()));
        put32(control, 0); // played again and again
        chunk(out, "acTL", control);
        uint32_t sequence = 0;
        for (size_t i = 0; i < frames_.size(); ++i)
        {
            std::string frame;
            put32(frame, sequence++);
            put32(frame, screen_width);
            put32(frame, screen_height);
            put32(frame, 0);
            put32(frame, 0);
            const bool last = i + 1 == frames_.size();
            frame += last ? std::string("\x00\x03\x00\x01", 4) : std::string("\x00\x01\x00\x0a", 4);
            frame += std::string("\x00\x00", 2); // no disposal, no blending: each frame is the whole screen
            chunk(out, "fcTL", frame);
            if (i == 0)
                chunk(out, "IDAT", frames_[i]);
            else
            {
                std::string data;
                put32(data, sequence++);
                chunk(out, "fdAT", data + frames_[i]);
            }
        }
        chunk(out, "IEND", "");
        return out;
    }
}
