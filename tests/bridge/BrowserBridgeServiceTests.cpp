// The bridge service over real loopback sockets, with stand-in hosts. Callbacks arrive on a
// manual main queue, so every expectation is about what the model would see, in its order.

#include "app/bridge/BrowserBridgeService.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>

#include <future>
#include <thread>

namespace zorvane {
namespace {

using fakes::LoopbackListener;
using fakes::LoopbackSocket;
using namespace std::chrono_literals;

const std::string hello(BridgeProtocol::helloLine);
const std::string idText = "0E984725-C51C-4BF4-9960-E1C80E27ABA0";
const std::string cancelLine = "{\"type\":\"cancel\"}\n";

std::string startedLine(const std::string& title = "")
{
    return R"({"type":"selectionStarted","selectionID":")" + idText + "\""
        + (title.empty() ? "" : R"(,"title":")" + title + "\"") + "}\n";
}

std::string selectionLine(const std::string& image = "iVBORw0KGgo=", const std::string& extra = "")
{
    return R"({"type":"selection","selectionID":")" + idText + R"(","imageBase64":")" + image + "\"" + extra + "}\n";
}

class BrowserBridgeServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service = BrowserBridgeService::create(queue, 0);
        service->onConnectionChange = [this](bool connected) { events.push_back(connected ? "connected" : "disconnected"); };
        service->onSelectionStarted = [this](const BrowserBridgeService::SelectionStarted& s) {
            events.push_back("started " + s.id.uuidString() + " " + s.title);
        };
        service->onSelection = [this](const BrowserBridgeService::Selection& s) {
            events.push_back("selection " + s.id.uuidString() + " " + std::to_string(s.imageData.size()) + " " + s.title);
        };
        service->onCancel = [this] { events.push_back("cancel"); };
        service->start();
        ASSERT_NE(service->listeningPort(), 0);
    }

    LoopbackSocket connectHost() { return LoopbackSocket::connectTo(service->listeningPort()); }

    // Runs the main queue until `count` callbacks have arrived (or the time runs out).
    bool waitForEvents(std::size_t count, std::chrono::milliseconds timeout = 10s)
    {
        return queue.runUntil([&] { return events.size() >= count; }, timeout);
    }

    LoopbackSocket authenticatedHost()
    {
        LoopbackSocket host = connectHost();
        host.send(hello);
        const std::size_t before = events.size();
        waitForEvents(before + 2);
        return host;
    }

    fakes::FakeClock clock;
    fakes::ManualMainQueue queue {clock};
    std::shared_ptr<BrowserBridgeService> service;
    std::vector<std::string> events;
};

TEST_F(BrowserBridgeServiceTest, AuthenticatedHostDeliversMessagesInArrivalOrder)
{
    LoopbackSocket host = connectHost();
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(events, (std::vector<std::string> {"disconnected"}));

    host.send(hello + startedLine("Título") + selectionLine("iVBORw0KGgo=", R"(,"title":12)") + cancelLine);
    ASSERT_TRUE(waitForEvents(5));
    EXPECT_EQ(events, (std::vector<std::string> {"disconnected", "connected", "started " + idText + " Título",
                                                 "selection " + idText + " 8 Contenido web", "cancel"}));
}

TEST_F(BrowserBridgeServiceTest, NothingBeforeAValidHelloIsActedOn)
{
    LoopbackSocket host = connectHost();
    host.send(startedLine() + selectionLine() + cancelLine + R"({"type":"hello","token":"wrong"})" "\n" + selectionLine());
    // The right hello and a cancel after it show that the earlier lines were dropped, not delayed.
    host.send(hello + cancelLine);
    ASSERT_TRUE(waitForEvents(3));
    queue.runPending();
    EXPECT_EQ(events, (std::vector<std::string> {"disconnected", "connected", "cancel"}));
}

TEST_F(BrowserBridgeServiceTest, MalformedSelectionsReachNoCallback)
{
    LoopbackSocket host = authenticatedHost();
    host.send(selectionLine("") + selectionLine("data:image/png;base64,iVBORw0KGgo=")
              + R"({"type":"selection","selectionID":"not-an-id","imageBase64":"iVBORw0KGgo="})" "\n"
              + R"({"type":"selectionStarted","selectionID":42})" "\n" + "not json\n" + "\n" + R"({"type":"launch"})" "\n"
              + startedLine());
    ASSERT_TRUE(waitForEvents(3));
    queue.runPending();
    EXPECT_EQ(events.back(), "started " + idText + " Contenido web");
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(BrowserBridgeServiceTest, LinesAreHandledOnceWhenTheirTerminatorArrives)
{
    LoopbackSocket host = authenticatedHost();
    const std::string line = selectionLine("iVBORw0KGgo=", R"(,"title":"Trozos")");
    for (std::size_t i = 0; i < line.size(); i += 7) {
        host.send(line.substr(i, 7));
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(waitForEvents(3));
    queue.runPending();
    EXPECT_EQ(events.back(), "selection " + idText + " 8 Trozos");
    EXPECT_EQ(events.size(), 3u);
}

TEST_F(BrowserBridgeServiceTest, ActivationReachesOnlyAnAuthenticatedHost)
{
    EXPECT_FALSE(service->requestActivation());
    LoopbackSocket host = connectHost();
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_FALSE(service->requestActivation());
    EXPECT_FALSE(service->requestCancellation());

    host.send(hello);
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_TRUE(service->requestActivation());
    EXPECT_TRUE(service->requestCancellation());
    // The first bytes the host ever receives are these two requests, exactly.
    EXPECT_EQ(host.receiveExactly(BridgeProtocol::activateLine.size() + BridgeProtocol::cancelLine.size()),
              std::string(BridgeProtocol::activateLine) + std::string(BridgeProtocol::cancelLine));
}

TEST_F(BrowserBridgeServiceTest, ASecondHostTakesOverAndTheFirstEndsSilently)
{
    LoopbackSocket first = authenticatedHost();
    LoopbackSocket second = connectHost();
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events[2], "disconnected");
    EXPECT_TRUE(first.waitForClose());

    // The newcomer is not trusted on the first one's account.
    EXPECT_FALSE(service->requestActivation());
    second.send(cancelLine + hello + cancelLine);
    ASSERT_TRUE(waitForEvents(5));
    queue.runPending();
    EXPECT_EQ(events, (std::vector<std::string> {"disconnected", "connected", "disconnected", "connected", "cancel"}));

    EXPECT_TRUE(service->requestActivation());
    EXPECT_EQ(second.receiveLine(), std::string(BridgeProtocol::activateLine));
}

TEST_F(BrowserBridgeServiceTest, AHostLeavingIsReportedOnce)
{
    LoopbackSocket host = authenticatedHost();
    host.close();
    ASSERT_TRUE(waitForEvents(3));
    EXPECT_EQ(events[2], "disconnected");
    EXPECT_FALSE(service->requestActivation());

    // A new host's arrival follows directly: no second report of the old one came in between.
    LoopbackSocket next = authenticatedHost();
    EXPECT_EQ(events, (std::vector<std::string> {"disconnected", "connected", "disconnected", "disconnected", "connected"}));
}

TEST_F(BrowserBridgeServiceTest, AHostResetMidwayIsReportedOnceWhicheverSideNoticesFirst)
{
    // A reset makes the next write fail or the reader end, in either order; the model must hear
    // of it exactly once either way.
    LoopbackSocket host = authenticatedHost();
    const linger abort {1, 0};
    ::setsockopt(host.descriptor(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    host.close();
    bool failed = false;
    for (int attempt = 0; attempt < 200 && !failed; ++attempt) {
        failed = !service->requestActivation();
        if (!failed) std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(failed);
    ASSERT_TRUE(waitForEvents(3));

    LoopbackSocket next = authenticatedHost();
    queue.runPending();
    EXPECT_EQ(events, (std::vector<std::string> {"disconnected", "connected", "disconnected", "disconnected", "connected"}));
}

TEST_F(BrowserBridgeServiceTest, ALineThatCanNeverFitLosesTheConnection)
{
    LoopbackSocket host = authenticatedHost();

    // A whole line, terminator included, of exactly the limit is still handled...
    std::string fits = selectionLine("iVBORw0KGgo=", R"(,"title":"Grande")");
    fits.pop_back();
    fits.insert(fits.size() - 1, BridgeProtocol::maxBufferedBytes - fits.size() - 1, ' ');
    fits.push_back('\n');
    ASSERT_EQ(fits.size(), BridgeProtocol::maxBufferedBytes);
    auto sent = std::async(std::launch::async, [&] { return host.send(fits); });
    ASSERT_TRUE(waitForEvents(3, 90s)); // 64 MiB to read, slow under the sanitizers
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(events.back(), "selection " + idText + " 8 Grande");

    // ...one byte more is not, and the peer is dropped.
    std::string tooLong = fits;
    tooLong.insert(tooLong.size() - 2, 1, ' ');
    sent = std::async(std::launch::async, [&] { return host.send(tooLong); });
    ASSERT_TRUE(waitForEvents(4, 90s));
    sent.wait();
    EXPECT_EQ(events.back(), "disconnected");
    EXPECT_TRUE(host.waitForClose(20s));
    EXPECT_FALSE(service->requestActivation());
}

TEST_F(BrowserBridgeServiceTest, CallbacksDoNothingOnceTheServiceIsGone)
{
    LoopbackSocket host = connectHost();
    host.send(hello + startedLine());
    // Wait for the three reports to be queued, without running them.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (queue.pendingCount() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(queue.pendingCount(), 3u);
    bool called = false;
    service->onSelectionStarted = [&](const BrowserBridgeService::SelectionStarted&) { called = true; };
    service->onConnectionChange = [&](bool) { called = true; };
    // Teardown with a host still connected must not hang, and must close the host's link.
    service.reset();
    queue.runPending();
    EXPECT_FALSE(called);
    EXPECT_TRUE(host.waitForClose());
}

TEST_F(BrowserBridgeServiceTest, KeepsAcceptingAfterRunningOutOfDescriptors)
{
    LoopbackSocket host;
    {
        // Use up every descriptor the process may open, then let a host knock.
        rlimit original {};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
        int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(client, 0);
        host = LoopbackSocket(client);
        rlimit lowered = original;
        lowered.rlim_cur = 256;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        std::vector<int> fillers;
        for (int fd; (fd = ::dup(client)) >= 0;) fillers.push_back(fd);

        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(service->listeningPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int connected = ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        std::this_thread::sleep_for(300ms); // the server meets EMFILE meanwhile

        for (int fd : fillers) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &original);
        ASSERT_EQ(connected, 0);
    }
    host.send(hello);
    ASSERT_TRUE(waitForEvents(2));
    EXPECT_EQ(events, (std::vector<std::string> {"disconnected", "connected"}));
}

TEST(BrowserBridgeServiceUnavailable, APortInUseLeavesTheBridgeQuietlyUnavailable)
{
    LoopbackListener other;
    fakes::FakeClock clock;
    fakes::ManualMainQueue queue(clock);
    auto service = BrowserBridgeService::create(queue, other.port());
    bool reported = false;
    service->onConnectionChange = [&](bool) { reported = true; };
    service->start();
    EXPECT_EQ(service->listeningPort(), 0);
    EXPECT_FALSE(service->requestActivation());
    // Hosts reach the other listener, not us.
    LoopbackSocket host = LoopbackSocket::connectTo(other.port());
    EXPECT_TRUE(other.accept().isOpen());
    queue.runPending();
    EXPECT_FALSE(reported);
}

TEST(BrowserBridgeServiceBrowsers, OnlyTheSupportedBrowsersExactly)
{
    for (const char* id : {"company.thebrowser.Browser", "com.google.Chrome", "com.google.Chrome.canary",
                           "com.microsoft.edgemac", "com.brave.Browser", "org.chromium.Chromium"}) {
        EXPECT_TRUE(BrowserBridgeService::supportsBrowser(id)) << id;
    }
    for (const char* id : {"com.apple.Safari", "org.mozilla.firefox", "com.google.chrome", "com.google.Chrome ", ""}) {
        EXPECT_FALSE(BrowserBridgeService::supportsBrowser(id)) << id;
    }
}

} // namespace
} // namespace zorvane
