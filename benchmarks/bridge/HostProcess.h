#pragma once

// The real ZorvaneBrowserHost as a child process, with its standard input and output on pipes,
// the way the browser runs it. Every wait is bounded; the child is killed if a test leaves it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace zorvane::test_support {

class HostProcess {
public:
    explicit HostProcess(const std::string& executable)
    {
        std::signal(SIGPIPE, SIG_IGN); // a host that is gone must show as a failed write here
        int input[2], output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe");
        // The origin argument the browser passes; the host ignores it.
        const char* argv[] = {executable.c_str(), "chrome-extension://mdclfcdboeglgnlhajcabdbhofpffcmi/", nullptr};
        pid_ = ::fork();
        if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
        if (pid_ == 0) {
            ::dup2(input[0], STDIN_FILENO);
            ::dup2(output[1], STDOUT_FILENO);
            ::execv(argv[0], const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(output[1]);
        stdin_ = input[1];
        stdout_ = output[0];
    }

    ~HostProcess()
    {
        closeStdin();
        closeStdout();
        if (!status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    static std::string frame(std::string_view body)
    {
        const auto length = static_cast<std::uint32_t>(body.size());
        return std::string(reinterpret_cast<const char*>(&length), 4).append(body);
    }

    // False once the host has stopped reading (its end of the pipe is closed).
    bool writeToStdin(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t count = ::write(stdin_, bytes.data(), bytes.size());
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(count));
        }
        return true;
    }

    void closeStdin() { closeDescriptor(stdin_); }
    void closeStdout() { closeDescriptor(stdout_); }

    // The next frame body the host wrote to its standard output, or none when its output ended
    // or the time ran out first.
    std::optional<std::string> readFrame(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (std::uint32_t length = 0;;) {
            if (buffered_.size() >= 4) std::memcpy(&length, buffered_.data(), 4);
            if (buffered_.size() >= 4 && buffered_.size() - 4 >= length) {
                std::string body = buffered_.substr(4, length);
                buffered_.erase(0, 4 + static_cast<std::size_t>(length));
                return body;
            }
            if (!readMore(deadline)) return std::nullopt;
        }
    }

    // The exit status, 128 + signal for a host killed by a signal, or none while still running
    // when the time runs out.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (std::chrono::steady_clock::now() >= deadline)
                return std::nullopt;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status_;
    }

    // The raw pipes, for benchmarks that move bytes in bulk.
    int stdinDescriptor() const { return stdin_; }
    int stdoutDescriptor() const { return stdout_; }

private:
    static void closeDescriptor(int& fd)
    {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    bool readMore(std::chrono::steady_clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watched {stdout_, POLLIN, 0};
        if (stdout_ < 0 || left.count() <= 0 || ::poll(&watched, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[65536];
        const ssize_t count = ::read(stdout_, chunk, sizeof chunk);
        if (count > 0) buffered_.append(chunk, static_cast<std::size_t>(count));
        return count > 0;
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

} // namespace zorvane::test_support
