// A file of its own under /tmp for a test to fill and hand to a process,
// removed when the test is done with it.
#ifndef TESTS_SUPPORT_TEMPORARY_FILE_H
#define TESTS_SUPPORT_TEMPORARY_FILE_H

#include <cstdio>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace test_support
{
    class temporary_file
    {
    public:
        temporary_file()
        {
            const int fd = mkstemp(path_);
            if (fd < 0)
                throw std::runtime_error("cannot make a temporary file");
            close(fd);
        }
        ~temporary_file() { unlink(path_); }
        temporary_file(const temporary_file &) = delete;
        temporary_file &operator=(const temporary_file &) = delete;

        const char *path() const { return path_; }

        // Replaces what the file holds.
        void write(const std::string &text) const
        {
            std::FILE *f = std::fopen(path_, "wb");
            if (f == nullptr || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
                throw std::runtime_error(std::string("cannot write ") + path_);
        }

    private:
        char path_[32] = "/tmp/jack_test_input.XXXXXX";
    };
}

#endif
