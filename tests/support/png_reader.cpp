#include "tests/support/png_reader.h"

#include <cstdint>
#include <stdexcept>
#ifdef JACK_HAVE_ZLIB
#include <zlib.h>
#endif

namespace test_support
{
    namespace
    {
        uint32_t be32(const std::string &s, size_t at)
        {
            if (at + 4 > s.size())
                throw std::runtime_error("PNG: cut short");
            return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24 |
                   static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16 |
                   static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8 |
                   static_cast<unsigned char>(s[at + 3]);
        }

        uint32_t crc_of(const std::string &bytes)
        {
            uint32_t crc = 0xffffffffu;
            for (unsigned char c : bytes)
            {
                crc ^= c;
                for (int k = 0; k < 8; ++k)
                    crc = crc & 1 ? 0xedb88320u ^ (crc >> 1) : crc >> 1;
            }
            return ~crc;
        }

        std::string inflate_stream(const std::string &z, size_t expected)
        {
#ifdef JACK_HAVE_ZLIB
            std::string out(expected, '\0');
            uLongf size = static_cast<uLongf>(expected);
            if (uncompress(reinterpret_cast<Bytef *>(&out[0]), &size, reinterpret_cast<const Bytef *>(z.data()),
                           static_cast<uLong>(z.size())) != Z_OK ||
                size != expected)
                throw std::runtime_error("PNG: the zlib stream does not inflate to the image");
            return out;
#else
            // Stored blocks only.
            std::string out;
            size_t at = 2;
            for (bool last = false; !last;)
            {
                if (at + 5 > z.size() || (z[at] & 6) != 0)
                    throw std::runtime_error("PNG: not a stored block");
                last = z[at] & 1;
                const size_t n = static_cast<unsigned char>(z[at + 1]) | static_cast<unsigned char>(z[at + 2]) << 8;
                out.append(z, at + 5, n);
                at += 5 + n;
            }
            if (out.size() != expected)
                throw std::runtime_error("PNG: the stored blocks are not the image");
            return out;
#endif
        }
    }

    png_image read_png(const std::string &bytes)
    {
        if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
            throw std::runtime_error("PNG: no signature");
        png_image image;
        std::string idat;
        std::vector<std::string> frame_data;
        std::vector<png_frame> frames;
        uint32_t next_sequence = 0;
        bool ended = false, idat_in_animation = false;
        for (size_t at = 8; at < bytes.size();)
        {
            const uint32_t length = be32(bytes, at);
            if (at + 12 + length > bytes.size())
                throw std::runtime_error("PNG: a chunk runs past the end");
            const std::string type = bytes.substr(at + 4, 4);
            const std::string data = bytes.substr(at + 8, length);
            if (be32(bytes, at + 8 + length) != crc_of(type + data))
                throw std::runtime_error("PNG: the CRC of " + type + " is wrong");
            at += 12 + length;
            if (type == "IHDR")
            {
                image.width = static_cast<int>(be32(data, 0));
                image.height = static_cast<int>(be32(data, 4));
                image.bit_depth = static_cast<unsigned char>(data[8]);
                image.colour_type = static_cast<unsigned char>(data[9]);
            }
            else if (type == "acTL")
            {
                image.animated = true;
                image.plays = static_cast<int>(be32(data, 4));
                frames.reserve(be32(data, 0));
            }
            else if (type == "fcTL")
            {
                if (be32(data, 0) != next_sequence++)
                    throw std::runtime_error("PNG: fcTL out of sequence");
                if (be32(data, 4) != static_cast<uint32_t>(image.width) ||
                    be32(data, 8) != static_cast<uint32_t>(image.height) || be32(data, 12) != 0 || be32(data, 16) != 0)
                    throw std::runtime_error("PNG: a frame that is not the whole image");
                png_frame f;
                f.delay_numerator = static_cast<unsigned char>(data[20]) << 8 | static_cast<unsigned char>(data[21]);
                f.delay_denominator = static_cast<unsigned char>(data[22]) << 8 | static_cast<unsigned char>(data[23]);
                frames.push_back(f);
                frame_data.emplace_back();
                idat_in_animation = idat.empty();
            }
            else if (type == "IDAT")
            {
                idat += data;
                if (idat_in_animation && !frame_data.empty())
                    frame_data.back() += data;
            }
            else if (type == "fdAT")
            {
                if (be32(data, 0) != next_sequence++ || frame_data.empty())
                    throw std::runtime_error("PNG: fdAT out of sequence");
                frame_data.back() += data.substr(4);
            }
            else if (type == "IEND")
            {
                ended = true;
                break;
            }
        }
        if (!ended || image.width <= 0 || image.height <= 0)
            throw std::runtime_error("PNG: no IEND, or no image");
        const size_t row = 1 + (static_cast<size_t>(image.width) * static_cast<size_t>(image.bit_depth) + 7) / 8;
        const size_t expected = row * static_cast<size_t>(image.height);
        image.rows = inflate_stream(idat, expected);
        for (size_t i = 0; i < frames.size(); ++i)
        {
            frames[i].rows = inflate_stream(frame_data[i], expected);
            image.frames.push_back(frames[i]);
        }
        if (image.animated && image.frames.size() != frames.capacity())
            throw std::runtime_error("PNG: acTL counts another number of frames");
        return image;
    }

    std::vector<int> screen_words(const std::string &rows)
    {
        std::vector<int> words(8192, 0);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 512; ++x)
            {
                const unsigned char byte = static_cast<unsigned char>(rows[static_cast<size_t>(y * 65 + 1 + x / 8)]);
                if (!(byte >> (7 - x % 8) & 1))  // 0 is black
                    words[static_cast<size_t>(32 * y + x / 16)] |= 1 << (x % 16);
            }
        return words;
    }
}
