// Both ends of the bridge's link today, over real sockets: the application's service with stand-in
// hosts, its callbacks on a manual main queue so every expectation is about what the model would see,
// in its order; and the host's relay from the browser on the descriptors the program runs it on, a
// pipe and a socket, where the largest frames go by splice. (A lean walk: the link is about to move
// to a Unix socket; arbitrary bytes and read cuts are the fuzzers', the real browser's the end-to-end
// test's.)

#include "app/bridge/BrowserBridgeService.h"
#include "browser-host/HostRelay.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <thread>

namespace zorvane {
namespace {

using fakes::LoopbackSocket;
using Events = std::vector<std::string>;

const std::string hello(BridgeProtocol::helloLine);
const std::string cancel(BridgeProtocol::cancelLine);
const std::string idText = "0E984725-C51C-4BF4-9960-E1C80E27ABA0";
const std::string started = R"({"type":"selectionStarted","selectionID":")" + idText + R"(","title":"Título"})" "\n";

std::string selectionLine(const std::string& extra = "")
{
    return R"({"type":"selection","selectionID":")" + idText + R"(","imageBase64":"iVBORw0KGgo=")" + extra + "}\n";
}

class BrowserBridgeServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service = BrowserBridgeService::create(queue, 0);
        service->onConnectionChange = [this](bool up) { events.push_back(up ? "connected" : "disconnected"); };
        service->onSelectionStarted = [this](const auto& s) { events.push_back("started " + s.title); };
        service->onSelection = [this](const auto& s) {
            events.push_back("selection " + std::to_string(s.imageData.size()) + " " + s.title);
        };
        service->onCancel = [this] { events.push_back("cancel"); };
        service->start();
        ASSERT_NE(service->listeningPort(), 0);
    }

    LoopbackSocket connectHost() { return LoopbackSocket::connectTo(service->listeningPort()); }

    // Runs the main queue until `count` callbacks have arrived, then whatever else is already queued.
    bool waitForEvents(std::size_t count)
    {
        const bool arrived = queue.runUntil([&] { return events.size() >= count; });
        queue.runPending();
        return arrived;
    }

    fakes::FakeClock clock;
    fakes::ManualMainQueue queue {clock};
    std::shared_ptr<BrowserBridgeService> service;
    Events events;
};

TEST_F(BrowserBridgeServiceTest, OnlyAHostPastItsOwnHelloIsHeardANewOneTakesOverAndTheOnePortIsOurs)
{
    // Lines the application cannot use are skipped without losing the ones around them.
    LoopbackSocket first = connectHost();
    first.send(hello + started + "not json\n\n" + R"({"type":"selection","selectionID":"x","imageBase64":"iVBORw0KGgo="})" "\n"
               + selectionLine(R"(,"title":12)") + cancel);
    ASSERT_TRUE(waitForEvents(5));
    EXPECT_EQ(events, (Events {"disconnected", "connected", "started Título", "selection 8 Contenido web", "cancel"}));

    // A second host takes over: the first one's link is closed, and silently. Nothing it sends
    // before its own valid hello counts: dropped, not delayed.
    events.clear();
    LoopbackSocket second = connectHost();
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_TRUE(first.readToEnd());
    second.send(started + selectionLine() + cancel + R"({"type":"hello","token":"wrong"})" "\n" + selectionLine());
    EXPECT_FALSE(service->requestActivation());
    second.send(hello + cancel);
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events, (Events {"disconnected", "connected", "cancel"}));

    // The first bytes the host ever receives are these two requests, exactly.
    EXPECT_TRUE(service->requestActivation());
    EXPECT_TRUE(service->requestCancellation());
    EXPECT_EQ(second.receiveLine(), std::string(BridgeProtocol::activateLine));
    EXPECT_EQ(second.receiveLine(), cancel);
    second.close();
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events.back(), "disconnected");

    // Another instance finds the port taken: its bridge stays quietly unavailable.
    auto other = BrowserBridgeService::create(queue, service->listeningPort());
    other->onConnectionChange = [](bool) { ADD_FAILURE() << "the unavailable bridge reported a change"; };
    other->start();
    EXPECT_EQ(other->listeningPort(), 0);
    EXPECT_FALSE(other->requestActivation());
    queue.runPending();
}

std::string frame(const std::string& body, std::size_t length)
{
    const auto header = static_cast<std::uint32_t>(length);
    return std::string(reinterpret_cast<const char*>(&header), 4) + body;
}

TEST(HostRelay, TheLargestFrameReachesTheApplicationWholeAndALongerLengthEndsTheRelay)
{
    int link[2], fromBrowser[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link), 0);
    ASSERT_EQ(::pipe2(fromBrowser, O_CLOEXEC), 0);
    LoopbackSocket application(link[0]), socket(link[1]), browserOut(fromBrowser[1]), hostIn(fromBrowser[0]);

    const std::string largest(BridgeProtocol::maxFrameBodySize, 'A');
    const std::string tooLong = frame("{}", BridgeProtocol::maxFrameBodySize + 1);
    std::thread browser([&] { browserOut.send(frame(largest, largest.size()) + frame("{}", 2) + tooLong); });
    std::thread relay([&] {
        host::DescriptorReader input(hostIn.descriptor());
        host::DescriptorWriter output(socket.descriptor(), true);
        host::relayFramesToLines(input, output);
        socket.shutdownWrite();
    });
    EXPECT_EQ(application.readToEnd(std::chrono::seconds(60)), largest + "\n{}\n");
    relay.join();
    browser.join();
}

} // namespace
} // namespace zorvane
