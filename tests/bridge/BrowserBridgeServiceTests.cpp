// The bridge service over real loopback sockets, with stand-in hosts. Callbacks arrive on a
// manual main queue, so every expectation is about what the model would see, in its order.

#include "app/bridge/BrowserBridgeService.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <future>
#include <thread>

namespace zorvane {
namespace {

using fakes::LoopbackSocket;
using namespace std::chrono_literals;
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
    bool waitForEvents(std::size_t count, std::chrono::milliseconds timeout = 10s)
    {
        const bool arrived = queue.runUntil([&] { return events.size() >= count; }, timeout);
        queue.runPending();
        return arrived;
    }

    LoopbackSocket authenticatedHost()
    {
        LoopbackSocket host = connectHost();
        host.send(hello);
        waitForEvents(events.size() + 2);
        return host;
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
    EXPECT_TRUE(first.waitForClose());
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

    // Another instance finds the port taken: its bridge stays quietly unavailable.
    auto other = BrowserBridgeService::create(queue, service->listeningPort());
    other->onConnectionChange = [](bool) { ADD_FAILURE() << "the unavailable bridge reported a change"; };
    other->start();
    EXPECT_EQ(other->listeningPort(), 0);
    EXPECT_FALSE(other->requestActivation());
    queue.runPending();
}

TEST_F(BrowserBridgeServiceTest, AHostLeavingOrResetIsReportedOnceWhicheverSideNoticesFirst)
{
    // A reset makes the next write fail or the reader end, in either order; the model must hear
    // of it exactly once either way. The next host is accepted all the same.
    LoopbackSocket host = authenticatedHost();
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        const linger abort {1, 0};
        if (reset) ::setsockopt(host.descriptor(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        host.close();
        bool failed = false;
        for (int attempt = 0; attempt < 200 && !failed; ++attempt) {
            failed = !service->requestActivation();
            if (!failed) std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(failed);
        ASSERT_TRUE(waitForEvents(events.size() + 1));
        host = authenticatedHost();
    }
    EXPECT_EQ(events, (Events {"disconnected", "connected", "disconnected", "disconnected", "connected", "disconnected",
                               "disconnected", "connected"}));
}

TEST_F(BrowserBridgeServiceTest, ALineThatCanNeverFitLosesTheConnection)
{
    LoopbackSocket host = authenticatedHost();
    // A whole line, terminator included, of exactly the limit is still handled...
    std::string fits = selectionLine(R"(,"title":"Grande")");
    fits.insert(fits.size() - 2, BridgeProtocol::maxBufferedBytes - fits.size(), ' ');
    auto sent = std::async(std::launch::async, [&] { return host.send(fits); });
    ASSERT_TRUE(waitForEvents(3, 90s)); // 64 MiB to read, slow under the sanitizers
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(events.back(), "selection 8 Grande");

    // ...one byte more is not, and the peer is dropped.
    fits.insert(fits.size() - 2, 1, ' ');
    sent = std::async(std::launch::async, [&] { return host.send(fits); });
    ASSERT_TRUE(waitForEvents(4, 90s));
    sent.wait();
    EXPECT_EQ(events.back(), "disconnected");
    EXPECT_TRUE(host.waitForClose(20s));
    EXPECT_FALSE(service->requestActivation());
}

TEST_F(BrowserBridgeServiceTest, CallbacksDoNothingOnceTheServiceIsGone)
{
    LoopbackSocket host = connectHost();
    host.send(hello + started);
    // The three reports queued, not run.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (queue.pendingCount() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(queue.pendingCount(), 3u);
    // Teardown with a host still connected must not hang, and must close the host's link.
    service.reset();
    queue.runPending();
    EXPECT_EQ(events, Events {});
    EXPECT_TRUE(host.waitForClose());
}

TEST_F(BrowserBridgeServiceTest, KeepsAcceptingAfterRunningOutOfDescriptors)
{
    // Use up every descriptor the process may open, then let a host knock.
    rlimit original {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    LoopbackSocket host(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    rlimit lowered = original;
    lowered.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::dup(host.descriptor())) >= 0;) fillers.push_back(fd);
    const sockaddr_in address = fakes::loopbackAddress(service->listeningPort());
    const int connected = ::connect(host.descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    std::this_thread::sleep_for(300ms); // the server meets EMFILE meanwhile
    for (int fd : fillers) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &original);
    ASSERT_EQ(connected, 0);

    host.send(hello);
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events, (Events {"disconnected", "connected"}));
}

} // namespace
} // namespace zorvane
