#pragma once

// Stand-ins for the ends of the bridge's links: a host that connects to the application's
// service, an application that a real host connects to, and the pipes of a real host. Every wait
// is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace zorvane::fakes {

inline sockaddr_in loopbackAddress(std::uint16_t port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// One end of a loopback TCP connection (or of a pipe: everything but connectTo works on one).
class LoopbackSocket {
public:
    using Timeout = std::chrono::milliseconds;

    LoopbackSocket() = default;
    explicit LoopbackSocket(int fd) : fd_(fd) {}
    LoopbackSocket(LoopbackSocket&& other) noexcept { *this = std::move(other); }
    LoopbackSocket& operator=(LoopbackSocket&& other) noexcept // the old end closes with `other`
    {
        std::swap(fd_, other.fd_);
        std::swap(pending_, other.pending_);
        return *this;
    }
    ~LoopbackSocket() { close(); }

    // Connects to 127.0.0.1:port; an unconnected socket when nothing listens.
    static LoopbackSocket connectTo(std::uint16_t port)
    {
        LoopbackSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in address = loopbackAddress(port);
        if (::connect(socket.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) socket.close();
        return socket;
    }

    bool isOpen() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

    // False when the peer is gone.
    bool send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            ssize_t count = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (count < 0 && errno == ENOTSOCK) count = ::write(fd_, bytes.data(), bytes.size());
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(count));
        }
        return true;
    }

    // The next line with its terminator, or none when the peer closed or the time ran out first.
    std::optional<std::string> receiveLine(Timeout timeout = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::size_t end;
        while ((end = pending_.find('\n')) == std::string::npos)
            if (readMore(deadline) <= 0) return std::nullopt;
        return take(end + 1);
    }

    // Exactly `size` bytes, or none when the peer closed or the time ran out first.
    std::optional<std::string> receiveExactly(std::size_t size, Timeout timeout = std::chrono::seconds(20))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pending_.size() < size)
            if (readMore(deadline) <= 0) return std::nullopt;
        return take(size);
    }

    // True when the peer closes (after any bytes still unread, which go to `unread`) within the timeout.
    bool waitForClose(Timeout timeout = std::chrono::seconds(10), std::string* unread = nullptr)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (int got; (got = readMore(deadline)) != 0;)
            if (got < 0) return false;
        if (unread) *unread += take(pending_.size());
        return true;
    }

    void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }
    void close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    std::string take(std::size_t size)
    {
        std::string bytes = pending_.substr(0, size);
        pending_.erase(0, size);
        return bytes;
    }

    // Appends what arrives before the deadline: 1 for bytes, 0 once the peer has closed, -1 when
    // the time ran out.
    int readMore(std::chrono::steady_clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<Timeout>(deadline - std::chrono::steady_clock::now()).count();
        pollfd watched {fd_, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(left > 0 ? left : 0)) <= 0) return -1;
        char buffer[65536];
        const ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count <= 0) return 0;
        pending_.append(buffer, static_cast<std::size_t>(count));
        return 1;
    }

    int fd_ = -1;
    std::string pending_;
};

// A listener on 127.0.0.1 standing in for the application (or any server a test needs).
class LoopbackListener {
public:
    // Port 0 picks a free one. Throws when the port cannot be bound.
    explicit LoopbackListener(std::uint16_t port = 0) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const int on = 1;
        ::setsockopt(socket_.descriptor(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address = loopbackAddress(port);
        if (::bind(socket_.descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
            || ::listen(socket_.descriptor(), 8) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot listen on 127.0.0.1:" + std::to_string(port));
        socklen_t length = sizeof address;
        ::getsockname(socket_.descriptor(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }

    std::uint16_t port() const { return port_; }

    // The next connection, or an unconnected socket when none came within the timeout.
    LoopbackSocket accept(LoopbackSocket::Timeout timeout = std::chrono::seconds(10))
    {
        pollfd watched {socket_.descriptor(), POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(timeout.count())) <= 0) return LoopbackSocket();
        return LoopbackSocket(::accept4(socket_.descriptor(), nullptr, nullptr, SOCK_CLOEXEC));
    }

private:
    LoopbackSocket socket_;
    std::uint16_t port_ = 0;
};

} // namespace zorvane::fakes
