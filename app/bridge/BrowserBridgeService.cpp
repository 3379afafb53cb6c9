#include "app/bridge/BrowserBridgeService.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace zorvane {

namespace {

constexpr std::size_t readChunkSize = 65536;
// Reads per connection per wake-up: a large image does not starve the other hosts.
constexpr int readsPerTurn = 16;
constexpr int acceptPauseMilliseconds = 100;

constexpr const char* unavailable = "La extensión del navegador no puede conectar con Zorvane: ";
constexpr const char* retrying = ". Zorvane lo volverá a intentar.";

void closeDescriptor(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string systemReason(const std::filesystem::path& path, int error)
{
    return path.string() + ": " + std::system_category().message(error);
}

bool fillAddress(sockaddr_un& address, const std::filesystem::path& path)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
    return true;
}

// A socket file nobody listens on any more: what a crashed instance leaves behind.
bool isStaleSocket(const std::filesystem::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
    sockaddr_un address;
    if (!fillAddress(address, path)) return false;
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool refused = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno == ECONNREFUSED;
    ::close(probe);
    return refused;
}

} // namespace

struct BrowserBridgeService::Connection {
    HostID id = 0;
    int socket = -1;
    bool greeted = false; // its first line was a hello
    BridgeMessages::LineBuffer pending {BridgeProtocol::maxBufferedBytes};
};

const std::set<std::string, std::less<>>& BrowserBridgeService::supportedBrowserIDs()
{
    static const std::set<std::string, std::less<>> ids {
        "company.thebrowser.Browser", "com.google.Chrome", "com.google.Chrome.canary",
        "com.microsoft.edgemac",      "com.brave.Browser", "org.chromium.Chromium",
    };
    return ids;
}

bool BrowserBridgeService::supportsBrowser(std::string_view bundleIdentifier)
{
    return supportedBrowserIDs().contains(bundleIdentifier);
}

std::shared_ptr<BrowserBridgeService> BrowserBridgeService::create(MainQueue& mainQueue, std::filesystem::path socketPath)
{
    return std::shared_ptr<BrowserBridgeService>(new BrowserBridgeService(mainQueue, std::move(socketPath)));
}

BrowserBridgeService::BrowserBridgeService(MainQueue& mainQueue, std::filesystem::path socketPath)
    : mainQueue_(mainQueue), socketPath_(std::move(socketPath))
{
}

BrowserBridgeService::~BrowserBridgeService()
{
    if (ioThread_.joinable()) {
        {
            std::lock_guard lock(stateLock);
            stopping_ = true;
        }
        const char wake = 1;
        while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {}
        ioThread_.join();
    }
    if (listener_ >= 0) {
        // Another instance may have taken the name since; its socket stays.
        struct stat info {};
        if (::lstat(socketPath_.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_ino == socketInode_)
            ::unlink(socketPath_.c_str());
    }
    closeDescriptor(listener_);
    closeDescriptor(wakeRead_);
    closeDescriptor(wakeWrite_);
}

template <typename Call> void BrowserBridgeService::postToMain(Call call)
{
    mainQueue_.post([weak = weakSelf_, call = std::move(call)]() mutable {
        if (auto self = weak.lock()) call(*self);
    });
}

bool BrowserBridgeService::isListening() const { return ioThread_.joinable(); }

void BrowserBridgeService::start()
{
    if (started_) return;
    started_ = true;
    weakSelf_ = weak_from_this();
    std::optional<std::string> failure = listen();
    if (!failure) {
        int wake[2];
        if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
            failure = systemReason("pipe", errno);
        } else {
            wakeRead_ = wake[0];
            wakeWrite_ = wake[1];
            try {
                ioThread_ = std::thread([this] { run(); });
            } catch (const std::system_error& error) {
                failure = error.what();
            }
        }
        if (failure) {
            closeDescriptor(listener_);
            closeDescriptor(wakeRead_);
            closeDescriptor(wakeWrite_);
            ::unlink(socketPath_.c_str());
        }
    }
    if (failure) {
        started_ = false;
        scheduleRetry();
        failure = unavailable + *failure + retrying;
    }
    postToMain([failure](BrowserBridgeService& self) {
        if (self.onListenerChange) self.onListenerChange(failure);
    });
}

void BrowserBridgeService::scheduleRetry()
{
    mainQueue_.postAfter(listenRetryInterval, [weak = weakSelf_] {
        if (auto self = weak.lock()) self->start();
    });
}

std::optional<std::string> BrowserBridgeService::listen()
{
    // The folder keeps every other user out; it must be ours and closed to everyone else.
    const std::filesystem::path folder = socketPath_.parent_path();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return systemReason(folder, errno);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return systemReason(folder, errno);
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return "la carpeta " + folder.string() + " no es de este usuario";
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return systemReason(folder, errno);

    sockaddr_un address;
    if (!fillAddress(address, socketPath_)) return "la ruta " + socketPath_.string() + " es demasiado larga";
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0) return systemReason(socketPath_, errno);
    int bound = ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (bound != 0 && errno == EADDRINUSE && isStaleSocket(socketPath_)) {
        ::unlink(socketPath_.c_str());
        bound = ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    if (bound != 0) {
        const int error = errno;
        closeDescriptor(listener_);
        if (error != EADDRINUSE) return systemReason(socketPath_, error);
        return S_ISSOCK(::lstat(socketPath_.c_str(), &info) == 0 ? info.st_mode : 0)
            ? "otro programa ya escucha en " + socketPath_.string()
            : socketPath_.string() + " está ocupado por otro archivo";
    }
    if (::lstat(socketPath_.c_str(), &info) == 0) socketInode_ = info.st_ino;
    if (::listen(listener_, 16) != 0) {
        const int error = errno;
        closeDescriptor(listener_);
        ::unlink(socketPath_.c_str());
        return systemReason(socketPath_, error);
    }
    return std::nullopt;
}

void BrowserBridgeService::run()
{
    std::map<int, std::unique_ptr<Connection>> connections; // by socket
    std::vector<pollfd> watched;
    std::string chunk(readChunkSize, '\0');
    bool paused = false; // out of descriptors: leave queued peers for a moment
    for (;;) {
        watched.clear();
        watched.push_back({wakeRead_, POLLIN, 0});
        if (!paused) watched.push_back({listener_, POLLIN, 0});
        for (const auto& [socket, connection] : connections) watched.push_back({socket, POLLIN, 0});
        const int ready = ::poll(watched.data(), watched.size(), paused ? acceptPauseMilliseconds : -1);
        {
            std::lock_guard lock(stateLock);
            if (stopping_) break;
        }
        if (ready < 0) continue;
        const bool wasPaused = paused;
        paused = false;
        if (!wasPaused && (watched[1].revents & POLLIN)) acceptConnections(connections, paused);

        for (const pollfd& entry : watched) {
            if (entry.fd == wakeRead_ || entry.fd == listener_ || entry.revents == 0) continue;
            const auto found = connections.find(entry.fd);
            if (found == connections.end() || readFrom(*found->second, chunk)) continue;
            drop(*found->second);
            connections.erase(found);
        }
    }
    for (auto& [socket, connection] : connections) drop(*connection);
}

void BrowserBridgeService::acceptConnections(std::map<int, std::unique_ptr<Connection>>& connections, bool& paused)
{
    for (;;) {
        const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket < 0) {
            // A peer that gave up before we took it is no reason to wait. Anything else (out of
            // descriptors, of buffers) would fail again at once: wait a little instead of spinning.
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) paused = true;
            return;
        }
        // The folder already keeps other users out; this holds even if its mode is ever loosened.
        if (!BridgeProtocol::peerIsThisUser(socket) || connections.size() >= maxConnections) {
            ::close(socket);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->id = nextHost_++;
        connection->socket = socket;
        connections.emplace(socket, std::move(connection));
    }
}

bool BrowserBridgeService::readFrom(Connection& connection, std::string& chunk)
{
    for (int turn = 0; turn < readsPerTurn; ++turn) {
        const ssize_t count = ::recv(connection.socket, chunk.data(), chunk.size(), 0);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (count <= 0) return false;
        if (!connection.pending.append(std::string_view(chunk.data(), static_cast<std::size_t>(count)))) return false;
        while (const auto line = connection.pending.nextLine())
            if (!handle(connection, *line)) return false;
        // Nothing but a short hello is waited for from a peer that has not said one.
        if (!connection.greeted && connection.pending.pendingSize() > BridgeProtocol::maxHelloSize) return false;
    }
    return true;
}

bool BrowserBridgeService::handle(Connection& connection, std::string_view line)
{
    std::optional<BridgeMessages::Message> message = BridgeMessages::parse(line);
    const auto* hello = message ? std::get_if<BridgeMessages::Hello>(&*message) : nullptr;
    if (!connection.greeted) {
        // An HTTP request, junk, or a message before the hello: this is not our host.
        if (!hello) return false;
        connection.greeted = true;
        {
            std::lock_guard lock(stateLock);
            writable_[connection.id] = connection.socket;
        }
        postToMain([host = Host {connection.id, hello->browserProcessID}](BrowserBridgeService& self) {
            if (self.onHostConnected) self.onHostConnected(host);
        });
        return true;
    }
    if (!message || hello) return true;

    const HostID id = connection.id;
    if (auto* started = std::get_if<SelectionStarted>(&*message)) {
        postToMain([id, record = std::move(*started)](BrowserBridgeService& self) {
            if (self.onSelectionStarted) self.onSelectionStarted(id, record);
        });
    } else if (auto* selection = std::get_if<Selection>(&*message)) {
        postToMain([id, record = std::move(*selection)](BrowserBridgeService& self) {
            if (self.onSelection) self.onSelection(id, record);
        });
    } else if (std::holds_alternative<BridgeMessages::Cancel>(*message)) {
        postToMain([id](BrowserBridgeService& self) {
            if (self.onCancel) self.onCancel(id);
        });
    } else if (std::holds_alternative<BridgeMessages::PickerShown>(*message)) {
        postToMain([id](BrowserBridgeService& self) {
            if (self.onPickerShown) self.onPickerShown(id);
        });
    }
    return true;
}

void BrowserBridgeService::drop(Connection& connection)
{
    {
        // Out of the table before the descriptor is closed, so a send never writes to a reused number.
        std::lock_guard lock(stateLock);
        writable_.erase(connection.id);
    }
    closeDescriptor(connection.socket);
    if (connection.greeted) {
        postToMain([id = connection.id](BrowserBridgeService& self) {
            if (self.onHostDisconnected) self.onHostDisconnected(id);
        });
    }
}

bool BrowserBridgeService::requestActivation(HostID host) { return sendLine(host, BridgeProtocol::activateLine); }

bool BrowserBridgeService::requestCancellation(HostID host) { return sendLine(host, BridgeProtocol::cancelLine); }

bool BrowserBridgeService::sendLine(HostID host, std::string_view line)
{
    std::lock_guard lock(stateLock);
    const auto found = writable_.find(host);
    if (found == writable_.end()) return false;
    // Never waits: a host that has not read a few short lines is not answering, and is let go.
    ssize_t count;
    do {
        count = ::send(found->second, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (count < 0 && errno == EINTR);
    if (count == static_cast<ssize_t>(line.size())) return true;
    // Its end shows on the I/O thread, which closes it and reports the host gone once.
    ::shutdown(found->second, SHUT_RDWR);
    writable_.erase(found);
    return false;
}

} // namespace zorvane
