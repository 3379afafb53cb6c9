#pragma once

#include "app/bridge/BridgeMessages.h"
#include "app/bridge/BridgeProtocol.h"
#include "app/platform/MainQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zorvane {

// The application's end of the browser bridge: a loopback TCP server for ZorvaneBrowserHost.
// It authenticates the host by its hello, turns the extension's messages into callbacks on the
// main queue, in the order they arrived, and sends the application's two requests.
class BrowserBridgeService : public std::enable_shared_from_this<BrowserBridgeService> {
public:
    using SelectionStarted = BridgeMessages::SelectionStarted;
    using Selection = BridgeMessages::Selection;

    // Bundle identifiers of the browsers whose front window is handed to the extension.
    static const std::set<std::string, std::less<>>& supportedBrowserIDs();

    // Callbacks only weak references can reach: they run on the main queue and do nothing once
    // the service is gone. Set them before start().
    std::function<void(const SelectionStarted&)> onSelectionStarted;
    std::function<void(const Selection&)> onSelection;
    std::function<void()> onCancel;
    std::function<void(bool)> onConnectionChange; // true: an authenticated host is connected

    // The port is the bridge's own; tests pass 0 for any free one.
    static std::shared_ptr<BrowserBridgeService> create(MainQueue& mainQueue,
                                                        std::uint16_t port = BridgeProtocol::port);
    ~BrowserBridgeService();
    BrowserBridgeService(const BrowserBridgeService&) = delete;
    BrowserBridgeService& operator=(const BrowserBridgeService&) = delete;

    // Binds 127.0.0.1 and starts accepting, once. A host started right after this returns finds
    // the port listening. If the socket cannot be made, bound or listened on, the bridge stays
    // unavailable for the life of the process and reports nothing.
    void start();

    // The port actually listened on, or 0 while the bridge is unavailable.
    std::uint16_t listeningPort() const { return listeningPort_.load(); }

    static bool supportsBrowser(std::string_view bundleIdentifier);

    // Asks the extension to start selecting in the page. False when no authenticated host is
    // connected or the write failed; the caller then uses the screen overlay.
    bool requestActivation();
    // Asks the extension to abandon the selection that activation started.
    bool requestCancellation();

private:
    BrowserBridgeService(MainQueue& mainQueue, std::uint16_t port);

    bool send(const std::map<std::string, std::string>& message);
    bool sendLine(std::string_view line);
    void runServer();
    void readMessages(int socket);
    void handle(std::string_view line, int socket);
    void reapFinishedReaders();
    // Waits up to the delay, or less when teardown wakes the server thread.
    void pauseAccepting();
    template <typename Call> void postToMain(Call call);

    MainQueue& mainQueue_;
    const std::uint16_t requestedPort_;
    std::weak_ptr<BrowserBridgeService> weakSelf_;

    std::mutex stateLock; // guards clientDescriptor, authenticated and stopping_
    int clientDescriptor = -1;
    bool authenticated = false;
    bool stopping_ = false;

    int serverDescriptor = -1;
    int wakeRead_ = -1; // teardown writes to wakeWrite_ so the server thread leaves poll()
    int wakeWrite_ = -1;
    std::atomic<std::uint16_t> listeningPort_ {0};

    struct Reader {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::thread serverThread_;
    std::vector<Reader> readers_; // touched only by the server thread
};

} // namespace zorvane
