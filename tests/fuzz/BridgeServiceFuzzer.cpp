// Arbitrary bytes from a peer of the real bridge service, over loopback. Whatever arrives, the
// service must not crash, must report nothing but the connection before a valid hello, and must
// never hand the model a selection without an image.

#include "app/bridge/BrowserBridgeService.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/VirtualTime.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace zorvane;

struct Session {
    fakes::FakeClock clock;
    fakes::ManualMainQueue queue {clock};
    std::shared_ptr<BrowserBridgeService> service = BrowserBridgeService::create(queue, 0);
    std::vector<std::string> events;

    Session()
    {
        service->onConnectionChange = [this](bool up) { events.push_back(up ? "up" : "down"); };
        service->onSelectionStarted = [this](const BrowserBridgeService::SelectionStarted&) { events.push_back("started"); };
        service->onSelection = [this](const BrowserBridgeService::Selection& s) {
            events.push_back(s.imageData.empty() ? "empty selection" : "selection");
        };
        service->onCancel = [this] { events.push_back("cancel"); };
        service->start();
        if (service->listeningPort() == 0) std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Session session;
    if (size < 2) return 0;
    session.events.clear();

    fakes::LoopbackSocket peer = fakes::LoopbackSocket::connectTo(session.service->listeningPort());
    if (!peer.isOpen()) std::abort();
    if (data[0] & 1) peer.send(BridgeProtocol::helloLine);
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t step = 1 + data[1] % 64;
    for (std::size_t at = 0; at < bytes.size(); at += step) peer.send(bytes.substr(at, step));
    peer.shutdownWrite();

    // Its arrival and its end are both reported as "down", the end last, after everything it sent.
    if (!session.queue.runUntil([&] { return std::count(session.events.begin(), session.events.end(), "down") == 2; }))
        std::abort();
    bool authenticated = false;
    for (const std::string& event : session.events) {
        if (event == "up") authenticated = true;
        else if (event == "down") authenticated = false;
        else if (!authenticated || event == "empty selection") std::abort();
    }
    return 0;
}
