#pragma once

// The real ZorvaneBrowserHost as a child process, with its standard input and output on pipes,
// the way the browser runs it. The child is killed when this goes. And a listener on a Unix socket
// standing in for the application.

#include "fakes/FakeBridgePeers.h"

#include <fcntl.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <system_error>

namespace zorvane::test_support {

class SocketListener {
public:
    // Throws when nothing can listen at the path.
    explicit SocketListener(std::filesystem::path path)
        : path_(std::move(path)), socket_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address {AF_UNIX, {}};
        path_.native().copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(socket_.descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
            || ::listen(socket_.descriptor(), 8) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot listen on " + path_.string());
    }

    const std::filesystem::path& path() const { return path_; }

    // The next connection, or an unconnected socket when none came within the timeout.
    fakes::BridgeSocket accept(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        pollfd watched {socket_.descriptor(), POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(timeout.count())) <= 0) return fakes::BridgeSocket();
        return fakes::BridgeSocket(::accept4(socket_.descriptor(), nullptr, nullptr, SOCK_CLOEXEC));
    }

private:
    std::filesystem::path path_;
    fakes::BridgeSocket socket_;
};

class HostProcess {
public:
    explicit HostProcess(const std::string& executable)
    {
        std::signal(SIGPIPE, SIG_IGN); // a host that is gone must show as a failed write here
        int toHost[2], fromHost[2];
        if (::pipe2(toHost, O_CLOEXEC) != 0 || ::pipe2(fromHost, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe");
        // The origin argument the browser passes; the host ignores it.
        const char* argv[] = {executable.c_str(), "chrome-extension://mdclfcdboeglgnlhajcabdbhofpffcmi/", nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(toHost[0], STDIN_FILENO);
            ::dup2(fromHost[1], STDOUT_FILENO);
            ::execv(argv[0], const_cast<char* const*>(argv));
            ::_exit(127);
        }
        ::close(toHost[0]);
        ::close(fromHost[1]);
        input = fakes::BridgeSocket(toHost[1]);
        output = fakes::BridgeSocket(fromHost[0]);
    }
    ~HostProcess()
    {
        input.close();
        output.close();
        if (pid_ > 0) {
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

    fakes::BridgeSocket input, output; // the host's standard input and output

private:
    pid_t pid_ = -1;
};

} // namespace zorvane::test_support
