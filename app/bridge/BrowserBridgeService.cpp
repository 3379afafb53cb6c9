#include "app/bridge/BrowserBridgeService.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zorvane {

namespace {

constexpr std::size_t readChunkSize = 65536;
constexpr int acceptRetryDelayMilliseconds = 100;

void closeDescriptor(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

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

std::shared_ptr<BrowserBridgeService> BrowserBridgeService::create(MainQueue& mainQueue, std::uint16_t port)
{
    return std::shared_ptr<BrowserBridgeService>(new BrowserBridgeService(mainQueue, port));
}

BrowserBridgeService::BrowserBridgeService(MainQueue& mainQueue, std::uint16_t port)
    : mainQueue_(mainQueue), requestedPort_(port)
{
}

BrowserBridgeService::~BrowserBridgeService()
{
    {
        std::lock_guard lock(stateLock);
        stopping_ = true;
        // Its reader wakes up, finds it is no longer wanted and closes it.
        if (clientDescriptor >= 0) ::shutdown(clientDescriptor, SHUT_RDWR);
    }
    if (serverThread_.joinable()) {
        const char wake = 1;
        while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {}
        serverThread_.join();
    }
    closeDescriptor(serverDescriptor);
    closeDescriptor(wakeRead_);
    closeDescriptor(wakeWrite_);
}

template <typename Call> void BrowserBridgeService::postToMain(Call call)
{
    mainQueue_.post([weak = weakSelf_, call = std::move(call)]() mutable {
        if (auto self = weak.lock()) call(*self);
    });
}

void BrowserBridgeService::start()
{
    if (serverThread_.joinable() || serverDescriptor >= 0) return;
    weakSelf_ = weak_from_this();

    // Close-on-exec everywhere: the codex children must not inherit the bridge's sockets.
    serverDescriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (serverDescriptor < 0) return;
    const int on = 1;
    ::setsockopt(serverDescriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(requestedPort_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(serverDescriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::listen(serverDescriptor, 2) != 0) {
        closeDescriptor(serverDescriptor);
        return;
    }
    socklen_t length = sizeof address;
    if (::getsockname(serverDescriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closeDescriptor(serverDescriptor);
        return;
    }

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        closeDescriptor(serverDescriptor);
        return;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    try {
        serverThread_ = std::thread([this] { runServer(); });
    } catch (const std::system_error&) {
        closeDescriptor(serverDescriptor);
        closeDescriptor(wakeRead_);
        closeDescriptor(wakeWrite_);
        return;
    }
    listeningPort_ = ntohs(address.sin_port);
}

void BrowserBridgeService::pauseAccepting()
{
    pollfd wake {wakeRead_, POLLIN, 0};
    ::poll(&wake, 1, acceptRetryDelayMilliseconds);
}

void BrowserBridgeService::reapFinishedReaders()
{
    for (auto it = readers_.begin(); it != readers_.end();) {
        if (it->finished->load()) {
            it->thread.join();
            it = readers_.erase(it);
        } else {
            ++it;
        }
    }
}

void BrowserBridgeService::runServer()
{
    for (;;) {
        pollfd watched[2] = {{serverDescriptor, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = ::poll(watched, 2, -1);
        {
            std::lock_guard lock(stateLock);
            if (stopping_) break;
        }
        if (ready < 0) {
            if (errno != EINTR) pauseAccepting();
            continue;
        }
        if (!(watched[0].revents & POLLIN)) {
            if (watched[0].revents & (POLLERR | POLLHUP | POLLNVAL)) pauseAccepting();
            continue;
        }

        const int socket = ::accept4(serverDescriptor, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) {
            // A peer that gave up before we took it is no reason to wait. Anything else (out of
            // descriptors, of buffers) keeps the connection queued and would fail again at once,
            // so wait a little instead of spinning a core until it clears.
            if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN && errno != EWOULDBLOCK)
                pauseAccepting();
            continue;
        }
        reapFinishedReaders();

        {
            std::lock_guard lock(stateLock);
            if (stopping_) {
                ::close(socket);
                break;
            }
            // Its reader ends on its own and, no longer current, reports nothing.
            if (clientDescriptor >= 0) ::shutdown(clientDescriptor, SHUT_RDWR);
            clientDescriptor = socket;
            authenticated = false;
        }
        postToMain([](BrowserBridgeService& self) {
            if (self.onConnectionChange) self.onConnectionChange(false);
        });

        auto finished = std::make_shared<std::atomic<bool>>(false);
        try {
            readers_.push_back(Reader {std::thread([this, socket, finished] {
                                           readMessages(socket);
                                           finished->store(true);
                                       }),
                                       finished});
        } catch (const std::system_error&) {
            std::lock_guard lock(stateLock);
            if (clientDescriptor == socket) {
                clientDescriptor = -1;
                authenticated = false;
            }
            ::close(socket);
        }
    }

    // Teardown has shut down the current connection and every replaced one was shut down when
    // it was replaced, so each reader is about to end.
    for (auto& reader : readers_) reader.thread.join();
    readers_.clear();
}

void BrowserBridgeService::readMessages(int socket)
{
    BridgeMessages::LineBuffer pending(BridgeProtocol::maxBufferedBytes);
    std::string chunk(readChunkSize, '\0');
    for (;;) {
        const ssize_t count = ::recv(socket, chunk.data(), chunk.size(), 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        if (!pending.append(std::string_view(chunk.data(), static_cast<std::size_t>(count)))) break;
        while (const auto line = pending.nextLine()) handle(*line, socket);
    }

    bool wasCurrent = false;
    {
        std::lock_guard lock(stateLock);
        if (clientDescriptor == socket) {
            clientDescriptor = -1;
            authenticated = false;
            wasCurrent = true;
        }
    }
    if (wasCurrent) {
        postToMain([](BrowserBridgeService& self) {
            if (self.onConnectionChange) self.onConnectionChange(false);
        });
    }
    ::close(socket);
}

void BrowserBridgeService::handle(std::string_view line, int socket)
{
    std::optional<BridgeMessages::Message> message = BridgeMessages::parse(line);
    if (!message) return;

    if (std::holds_alternative<BridgeMessages::Hello>(*message)) {
        {
            std::lock_guard lock(stateLock);
            if (clientDescriptor != socket) return;
            authenticated = true;
        }
        postToMain([](BrowserBridgeService& self) {
            if (self.onConnectionChange) self.onConnectionChange(true);
        });
        return;
    }

    {
        std::lock_guard lock(stateLock);
        if (!authenticated || clientDescriptor != socket) return;
    }
    if (auto* started = std::get_if<SelectionStarted>(&*message)) {
        postToMain([record = std::move(*started)](BrowserBridgeService& self) {
            if (self.onSelectionStarted) self.onSelectionStarted(record);
        });
    } else if (auto* selection = std::get_if<Selection>(&*message)) {
        postToMain([record = std::move(*selection)](BrowserBridgeService& self) {
            if (self.onSelection) self.onSelection(record);
        });
    } else if (std::holds_alternative<BridgeMessages::Cancel>(*message)) {
        postToMain([](BrowserBridgeService& self) {
            if (self.onCancel) self.onCancel();
        });
    }
}

bool BrowserBridgeService::requestActivation()
{
    return send({{std::string(BridgeProtocol::Member::type), std::string(BridgeProtocol::MessageType::activate)}});
}

bool BrowserBridgeService::requestCancellation()
{
    return send({{std::string(BridgeProtocol::Member::type), std::string(BridgeProtocol::MessageType::cancel)}});
}

bool BrowserBridgeService::send(const std::map<std::string, std::string>& message)
{
    std::string line;
    try {
        line = nlohmann::json(message).dump();
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    line.push_back(BridgeProtocol::lineTerminator);

    bool dropped = false;
    {
        std::lock_guard lock(stateLock);
        if (!authenticated || clientDescriptor < 0) return false;
        std::size_t written = 0;
        while (written < line.size()) {
            const ssize_t count = ::send(clientDescriptor, line.data() + written, line.size() - written, MSG_NOSIGNAL);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) {
                ::shutdown(clientDescriptor, SHUT_RDWR);
                clientDescriptor = -1;
                authenticated = false;
                dropped = true;
                break;
            }
            written += static_cast<std::size_t>(count);
        }
    }
    if (dropped) {
        // The dropped connection's reader is no longer current and reports nothing, so say here
        // that the extension is gone; otherwise the model would show a host that is not there.
        postToMain([](BrowserBridgeService& self) {
            if (self.onConnectionChange) self.onConnectionChange(false);
        });
        return false;
    }
    return true;
}

} // namespace zorvane
