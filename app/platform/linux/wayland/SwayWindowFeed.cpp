#include "app/platform/linux/wayland/SwayWindowFeed.h"

#include <QByteArray>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zorvane {

namespace {

using Clock = std::chrono::steady_clock;

// i3's framing, which sway speaks: magic, payload length and message type in native byte order.
constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t headerSize = sizeof(magic) + 8;
constexpr std::uint32_t subscribe = 2, getTree = 4;
// A tree larger than this is not a desktop's.
constexpr std::uint32_t largestAnswer = 64u << 20;
constexpr auto answerWait = std::chrono::seconds(1);

int connectTo(const std::filesystem::path& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::string p = path.string();
    if (p.empty() || p.size() >= sizeof(address.sun_path)) return -1;
    std::memcpy(address.sun_path, p.c_str(), p.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool waitFor(int fd, short what, Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p {fd, what, 0};
    return ::poll(&p, 1, int(left)) == 1 && (p.revents & what);
}

bool writeAll(int fd, const char* data, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        if (!waitFor(fd, POLLOUT, deadline)) return false;
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool readAll(int fd, char* data, std::size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        if (!waitFor(fd, POLLIN, deadline)) return false;
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool send(int fd, std::uint32_t type, const QByteArray& payload)
{
    std::array<char, headerSize> header {};
    std::memcpy(header.data(), magic, sizeof(magic));
    const std::uint32_t length = std::uint32_t(payload.size());
    std::memcpy(header.data() + sizeof(magic), &length, 4);
    std::memcpy(header.data() + sizeof(magic) + 4, &type, 4);
    const auto deadline = Clock::now() + answerWait;
    return writeAll(fd, header.data(), header.size(), deadline) && writeAll(fd, payload.constData(), std::size_t(payload.size()), deadline);
}

// One message; none when the socket failed, sent something else or took too long.
std::optional<QByteArray> receive(int fd)
{
    const auto deadline = Clock::now() + answerWait;
    std::array<char, headerSize> header {};
    if (!readAll(fd, header.data(), header.size(), deadline) || std::memcmp(header.data(), magic, sizeof(magic)) != 0) return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, header.data() + sizeof(magic), 4);
    if (length > largestAnswer) return std::nullopt;
    QByteArray payload(qsizetype(length), Qt::Uninitialized);
    if (!readAll(fd, payload.data(), length, deadline)) return std::nullopt;
    return payload;
}

} // namespace

std::filesystem::path SwayWindowFeed::socketFromEnvironment()
{
    const char* path = std::getenv("SWAYSOCK");
    return path && *path ? std::filesystem::path(path) : std::filesystem::path();
}

std::shared_ptr<SwayWindowFeed> SwayWindowFeed::start(const std::filesystem::path& socket, std::shared_ptr<CompositorWindows> windows)
{
    const int events = connectTo(socket);
    const int requests = events >= 0 ? connectTo(socket) : -1;
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // The subscription is answered before any event comes.
    const bool subscribed = requests >= 0 && wake >= 0 && send(events, subscribe, R"(["window","workspace"])")
        && receive(events).value_or(QByteArray()).contains("true");
    if (!subscribed) {
        for (const int fd : {events, requests, wake})
            if (fd >= 0) ::close(fd);
        return nullptr;
    }
    std::shared_ptr<SwayWindowFeed> feed(new SwayWindowFeed(events, requests, wake, std::move(windows)));
    feed->thread_ = std::thread([raw = feed.get()] { raw->run(); });
    return feed;
}

SwayWindowFeed::SwayWindowFeed(int events, int requests, int wake, std::shared_ptr<CompositorWindows> windows)
    : events_(events), requests_(requests), wake_(wake), windows_(std::move(windows))
{
}

SwayWindowFeed::~SwayWindowFeed()
{
    stopping_ = true;
    refresh();
    if (thread_.joinable()) thread_.join();
    for (const int fd : {events_, requests_, wake_}) ::close(fd);
}

void SwayWindowFeed::refresh()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof(one));
}

void SwayWindowFeed::run()
{
    bool stale = true;
    while (!stopping_) {
        if (stale) {
            std::optional<std::vector<CompositorWindow>> windows;
            if (send(requests_, getTree, {}))
                if (const auto tree = receive(requests_)) windows = compositor_windows::fromSwayTree(*tree);
            if (!windows) {
                // sway went away or stopped answering: the list is not trusted any more.
                windows_->forget();
                return;
            }
            windows_->publish(std::move(*windows));
            stale = false;
        }
        pollfd waits[] = {{wake_, POLLIN, 0}, {events_, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) continue;
        if (waits[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(wake_, &count, sizeof(count));
            stale = true;
        }
        if (waits[1].revents & (POLLERR | POLLHUP)) {
            windows_->forget();
            return;
        }
        if (waits[1].revents & POLLIN) {
            // A burst of events (a window opens: new, focus, workspace) makes one reading.
            do {
                if (!receive(events_)) {
                    windows_->forget();
                    return;
                }
                waits[1].revents = 0;
            } while (::poll(&waits[1], 1, 0) == 1 && (waits[1].revents & POLLIN));
            stale = true;
        }
    }
}

} // namespace zorvane
