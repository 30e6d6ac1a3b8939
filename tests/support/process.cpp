#include "tests/support/process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace test_support
{
    namespace
    {
        void make_pipe(int fds[2])
        {
            if (pipe(fds) != 0)
                throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }

        void set_nonblocking(int fd)
        {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }

        [[noreturn]] void exec_child(const std::vector<std::string> &argv, const process_options &options)
        {
            for (const char *name : {"LUMTOOLS_IOBUFFER_OUTPUT", "LUMTOOLS_IOBUFFER_TRACES",
                                     "LUMTOOLS_IOBUFFER_ERRORS", "LUMTOOLS_IOBUFFER_LOGS", "NO_COLOR"})
                unsetenv(name);
            for (const auto &setting : options.env)
                setenv(setting.first.c_str(), setting.second.c_str(), 1);
            std::vector<char *> args;
            for (const std::string &arg : argv)
                args.push_back(const_cast<char *>(arg.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            std::fprintf(stderr, "exec %s: %s\n", args[0], std::strerror(errno));
            _exit(127);
        }

        // Forks a child whose standard input, output and error are pipes (or
        // a pseudo-terminal), runs child in it, feeds it the input and drains
        // both outputs together, so that a child filling one pipe while the
        // parent waits on the other can never block.
        process_result run_child(const std::function<void()> &child, const process_options &options)
        {
            // A child that stops reading its input must not kill the test.
            signal(SIGPIPE, SIG_IGN);

            int in[2], out[2], err[2];
            make_pipe(in);
            make_pipe(err);
            int out_read;
            int out_write;
            if (options.output_to_pty)
            {
                if (openpty(&out_read, &out_write, nullptr, nullptr, nullptr) != 0)
                    throw std::runtime_error("openpty failed");
            }
            else
            {
                make_pipe(out);
                out_read = out[0];
                out_write = out[1];
            }

            // Nothing the test process holds in its buffers may reach the child.
            std::fflush(stdout);
            std::fflush(stderr);
            pid_t pid = fork();
            if (pid < 0)
                throw std::runtime_error("fork failed");
            if (pid == 0)
            {
                signal(SIGPIPE, SIG_DFL);
                dup2(in[0], 0);
                dup2(out_write, 1);
                dup2(options.merge_stderr ? out_write : err[1], 2);
                for (int fd : {in[0], in[1], out_read, out_write, err[0], err[1]})
                    close(fd);
                child();
            }
            close(in[0]);
            close(out_write);
            close(err[1]);

            process_result result;
            int to_child = in[1];
            size_t written = 0;
            if (options.input.empty())
            {
                close(to_child);
                to_child = -1;
            }
            else
                set_nonblocking(to_child);

            int from_out = out_read;
            int from_err = err[0];
            char buffer[65536];
            while (to_child >= 0 || from_out >= 0 || from_err >= 0)
            {
                pollfd fds[3];
                int count = 0;
                if (to_child >= 0)
                    fds[count++] = {to_child, POLLOUT, 0};
                if (from_out >= 0)
                    fds[count++] = {from_out, POLLIN, 0};
                if (from_err >= 0)
                    fds[count++] = {from_err, POLLIN, 0};
                if (poll(fds, count, -1) < 0)
                {
                    if (errno == EINTR)
                        continue;
                    throw std::runtime_error("poll failed");
                }
                for (int i = 0; i < count; i++)
                {
                    if (fds[i].revents == 0)
                        continue;
                    int fd = fds[i].fd;
                    if (fd == to_child)
                    {
                        ssize_t n = write(fd, options.input.data() + written, options.input.size() - written);
                        if (n > 0)
                            written += static_cast<size_t>(n);
                        if (n < 0 && errno != EAGAIN)
                            written = options.input.size();  // the child closed its input
                        if (written == options.input.size())
                        {
                            close(fd);
                            to_child = -1;
                        }
                        continue;
                    }
                    ssize_t n = read(fd, buffer, sizeof buffer);
                    if (n > 0)
                    {
                        (fd == from_out ? result.out : result.err).append(buffer, static_cast<size_t>(n));
                        continue;
                    }
                    if (n < 0 && errno == EINTR)
                        continue;
                    // End of file, or EIO from a pseudo-terminal whose child is gone.
                    close(fd);
                    (fd == from_out ? from_out : from_err) = -1;
                }
            }

            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
            {
            }
            if (WIFEXITED(status))
            {
                result.exited = true;
                result.exit_code = WEXITSTATUS(status);
            }
            else if (WIFSIGNALED(status))
                result.signal = WTERMSIG(status);
            return result;
        }
    }

    process_result run_process(const std::vector<std::string> &argv, const process_options &options)
    {
        return run_child([&] { exec_child(argv, options); }, options);
    }

    process_result run_in_child(const std::function<void()> &body, const std::string &input)
    {
        process_options options;
        options.input = input;
        return run_child(
            [&] {
                body();
                std::fflush(stdout);
                std::fflush(stderr);
                _exit(0);
            },
            options);
    }

    std::string program(const std::string &name)
    {
        return std::string(JACK_BIN_DIR) + "/" + name;
    }

    std::string source_file(const std::string &relative_path)
    {
        std::ifstream file(std::string(JACK_SOURCE_DIR) + "/" + relative_path, std::ios::binary);
        if (!file)
            throw std::runtime_error("cannot read " + relative_path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
}
