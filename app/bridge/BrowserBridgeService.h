#pragma once

#include "app/bridge/BridgeMessages.h"
#include "app/bridge/BridgeProtocol.h"
#include "app/platform/MainQueue.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

namespace zorvane {

// The application's end of the browser bridge: a Unix socket in the user's private folder where
// every running ZorvaneBrowserHost (one per browser profile with the extension) keeps its own
// connection. A connection counts only when its peer runs as this user and its first line is a
// hello; anything else is closed at once. The extension's messages become callbacks on the main
// queue, each naming the host it came from, in the order they arrived; the application's two
// requests go to the host it names.
class BrowserBridgeService : public std::enable_shared_from_this<BrowserBridgeService> {
public:
    using SelectionStarted = BridgeMessages::SelectionStarted;
    using Selection = BridgeMessages::Selection;
    // One per connection, never reused while the program runs.
    using HostID = std::uint64_t;
    struct Host {
        HostID id = 0;
        std::optional<std::int32_t> browserProcessID; // the browser it serves, as the host said
    };

    // A listener that could not be set up is tried again after this long, until it can.
    static constexpr double listenRetryInterval = 3;
    // Connections held at once (hosts and peers that have not said hello yet); more are refused.
    static constexpr std::size_t maxConnections = 32;

    // Bundle identifiers of the browsers whose front window may be handed to the extension.
    static const std::set<std::string, std::less<>>& supportedBrowserIDs();
    static bool supportsBrowser(std::string_view bundleIdentifier);

    // Callbacks only weak references can reach: they run on the main queue and do nothing once
    // the service is gone. Set them before start().
    std::function<void(const Host&)> onHostConnected;
    std::function<void(HostID)> onHostDisconnected; // only hosts that were reported connected
    std::function<void(HostID, const SelectionStarted&)> onSelectionStarted;
    std::function<void(HostID, const Selection&)> onSelection;
    std::function<void(HostID)> onCancel;
    std::function<void(HostID)> onPickerShown;
    // After each attempt to listen: none when listening, else why not, in the user's words.
    std::function<void(const std::optional<std::string>&)> onListenerChange;

    static std::shared_ptr<BrowserBridgeService> create(MainQueue& mainQueue,
                                                        std::filesystem::path socketPath = BridgeProtocol::socketPath());
    ~BrowserBridgeService();
    BrowserBridgeService(const BrowserBridgeService&) = delete;
    BrowserBridgeService& operator=(const BrowserBridgeService&) = delete;

    // Makes the private folder and listens, once; a host started right after this returns finds
    // the socket. When that fails, it says why (onListenerChange) and tries again later.
    void start();
    bool isListening() const;
    const std::filesystem::path& socketPath() const { return socketPath_; }

    // Asks the host's extension to start selecting in its page. False when that host is not
    // connected or the write failed; the caller then uses the screen overlay.
    bool requestActivation(HostID host);
    // Asks the host's extension to abandon the selection that activation started.
    bool requestCancellation(HostID host);

private:
    struct Connection;

    BrowserBridgeService(MainQueue& mainQueue, std::filesystem::path socketPath);

    std::optional<std::string> listen();
    void scheduleRetry();
    bool sendLine(HostID host, std::string_view line);
    void run();
    void acceptConnections(std::map<int, std::unique_ptr<Connection>>& connections, bool& paused);
    bool readFrom(Connection& connection, std::string& chunk); // false once it is to be closed
    bool handle(Connection& connection, std::string_view line);
    void drop(Connection& connection);
    template <typename Call> void postToMain(Call call);

    MainQueue& mainQueue_;
    const std::filesystem::path socketPath_;
    std::weak_ptr<BrowserBridgeService> weakSelf_;
    bool started_ = false;

    mutable std::mutex stateLock; // guards writable_ and stopping_
    std::map<HostID, int> writable_; // hosts past their hello, by the socket only the I/O thread closes
    bool stopping_ = false;

    int listener_ = -1;
    ino_t socketInode_ = 0; // the socket file we made, removed at the end only if it is still ours
    int wakeRead_ = -1;     // teardown writes to wakeWrite_ so the I/O thread leaves poll()
    int wakeWrite_ = -1;
    HostID nextHost_ = 1;   // touched only by the I/O thread
    std::thread ioThread_;
};

} // namespace zorvane
