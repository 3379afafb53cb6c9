#pragma once

// One end of a link of the bridge: a host's connection to the application's Unix socket, or a
// socket or pipe the test holds. Every wait is bounded.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zorvane::fakes {

class BridgeSocket {
public:
    using Timeout = std::chrono::milliseconds;

    BridgeSocket() = default;
    explicit BridgeSocket(int fd) : fd_(fd) {}
    BridgeSocket(BridgeSocket&& other) noexcept { *this = std::move(other); }
    BridgeSocket& operator=(BridgeSocket&& other) noexcept // the old end closes with `other`
    {
        std::swap(fd_, other.fd_);
        std::swap(pending_, other.pending_);
        return *this;
    }
    ~BridgeSocket() { close(); }

    // Connects to the Unix socket at `path`; an unconnected socket when nothing listens there.
    static BridgeSocket connectTo(const std::filesystem::path& path)
    {
        BridgeSocket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
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
        std::string line = pending_.substr(0, end + 1);
        pending_.erase(0, end + 1);
        return line;
    }

    // Everything still unread once the peer has closed, or none when the time ran out first.
    std::optional<std::string> readToEnd(Timeout timeout = std::chrono::seconds(20))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (int got; (got = readMore(deadline)) != 0;)
            if (got < 0) return std::nullopt;
        return std::exchange(pending_, {});
    }

    void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }
    void close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
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

} // namespace zorvane::fakes
