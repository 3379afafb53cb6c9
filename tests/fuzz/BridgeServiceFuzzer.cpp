// Arbitrary bytes from a peer of the real bridge service on its socket. Whatever arrives, the service
// must not crash, must report nothing for a link whose first line is no hello, must report a greeted
// host's end once and last, and must never hand the model a selection without an image.

#include "app/bridge/BrowserBridgeService.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/TemporaryDirectory.h"
#include "fakes/VirtualTime.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace zorvane;

struct Session {
    fakes::TemporaryDirectory runtime;
    fakes::FakeClock clock;
    fakes::ManualMainQueue queue {clock};
    std::shared_ptr<BrowserBridgeService> service = BrowserBridgeService::create(queue, runtime / "zorvane/browser-bridge");
    std::vector<std::string> events;

    Session()
    {
        service->onHostConnected = [this](const BrowserBridgeService::Host&) { events.push_back("up"); };
        service->onHostDisconnected = [this](BrowserBridgeService::HostID) { events.push_back("down"); };
        service->onSelectionStarted = [this](auto, const BrowserBridgeService::SelectionStarted&) { events.push_back("started"); };
        service->onSelection = [this](auto, const BrowserBridgeService::Selection& s) {
            events.push_back(s.imageData.empty() ? "empty selection" : "selection");
        };
        service->onCancel = [this](auto) { events.push_back("cancel"); };
        service->onPickerShown = [this](auto) { events.push_back("shown"); };
        service->start();
        if (!service->isListening()) std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Session session;
    if (size < 2) return 0;
    session.events.clear();

    fakes::BridgeSocket peer = fakes::BridgeSocket::connectTo(session.service->socketPath());
    if (!peer.isOpen()) std::abort();
    if (data[0] & 1) peer.send(BridgeProtocol::helloLine(data[0] & 2 ? std::optional<std::int32_t>(4242) : std::nullopt));
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t step = 1 + data[1] % 64;
    for (std::size_t at = 0; at < bytes.size(); at += step)
        if (!peer.send(bytes.substr(at, step))) break; // refused: the service has closed the link
    peer.shutdownWrite();
    if (!peer.readToEnd()) std::abort(); // the service always lets go of a link that has ended

    // Everything but a greeted host's end is reported before the link is closed.
    session.queue.runPending();
    const bool greeted = !session.events.empty() && session.events.front() == "up";
    if (greeted && !session.queue.runUntil([&] { return session.events.back() == "down"; })) std::abort();
    if (!greeted && !session.events.empty()) std::abort();
    for (std::size_t i = 1; i < session.events.size(); ++i) {
        const std::string& event = session.events[i];
        if (event == "up" || event == "empty selection" || (event == "down" && i + 1 != session.events.size())) std::abort();
    }
    return 0;
}
