// Both ends of the bridge's link, over real sockets: the application's service with stand-in hosts
// on its Unix socket, its callbacks on a manual main queue so every expectation is about what the
// model would see, in its order; and the host's relay from the browser on the descriptors the
// program runs it on, a pipe and a socket, where the largest frames go by splice. (Arbitrary bytes
// and read cuts are the fuzzers', the real browser's the end-to-end test's.)

#include "app/bridge/BrowserBridgeService.h"
#include "browser-host/HostRelay.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/TemporaryDirectory.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

namespace zorvane {
namespace {

using fakes::BridgeSocket;
using Events = std::vector<std::string>;

const std::string cancel(BridgeProtocol::cancelLine);
const std::string idText = "0E984725-C51C-4BF4-9960-E1C80E27ABA0";
const std::string started = R"({"type":"selectionStarted","selectionID":")" + idText + R"(","title":"Título"})" "\n";

std::string selectionLine(const std::string& extra = "")
{
    return R"({"type":"selection","selectionID":")" + idText + R"(","imageBase64":"iVBORw0KGgo=")" + extra + "}\n";
}

class BrowserBridgeServiceTest : public ::testing::Test {
protected:
    std::shared_ptr<BrowserBridgeService> makeService(const std::string& name = "")
    {
        auto made = BrowserBridgeService::create(queue, socketPath);
        made->onHostConnected = [this, name](const auto& host) {
            events.push_back(name + "up " + std::to_string(host.id) + " " + std::to_string(host.browserProcessID.value_or(0)));
        };
        made->onHostDisconnected = [this](auto id) { events.push_back("down " + std::to_string(id)); };
        made->onSelectionStarted = [this](auto id, const auto& s) { events.push_back(std::to_string(id) + " started " + s.title); };
        made->onSelection = [this](auto id, const auto& s) {
            events.push_back(std::to_string(id) + " selection " + std::to_string(s.imageData.size()) + " " + s.title);
        };
        made->onCancel = [this](auto id) { events.push_back(std::to_string(id) + " cancel"); };
        made->onPickerShown = [this](auto id) { events.push_back(std::to_string(id) + " shown"); };
        made->onListenerChange = [this, name](const auto& failure) { events.push_back(name + "listener " + failure.value_or("ok")); };
        made->start();
        return made;
    }

    // Runs the main queue until `count` callbacks have arrived, then whatever else is already queued.
    bool waitForEvents(std::size_t count)
    {
        const bool arrived = queue.runUntil([&] { return events.size() >= count; });
        queue.runPending();
        return arrived;
    }

    fakes::TemporaryDirectory runtime;
    const std::filesystem::path socketPath = runtime / "zorvane/browser-bridge";
    fakes::FakeClock clock;
    fakes::ManualMainQueue queue {clock};
    Events events;
};

TEST_F(BrowserBridgeServiceTest, OnlyThisUsersHostsPastTheirHelloAreHeardEachOnItsOwnLink)
{
    std::filesystem::create_directories(socketPath.parent_path());
    std::filesystem::permissions(socketPath.parent_path(), std::filesystem::perms(0755));
    auto service = makeService();
    ASSERT_TRUE(waitForEvents(1));
    EXPECT_EQ(std::filesystem::status(socketPath.parent_path()).permissions(), std::filesystem::perms(0700)) << "others could reach the socket";

    // Whatever does not open with a hello is shut out at once, having changed nothing: a web page's
    // request, junk, a host's message without its hello, a wrong token, a first line that never ends.
    for (const std::string& first : {"POST / HTTP/1.1\r\nContent-Type: text/plain\r\n\r\n" + BridgeProtocol::helloLine(7) + started,
             "x\n" + BridgeProtocol::helloLine(7), started + BridgeProtocol::helloLine(7),
             std::string(R"({"type":"hello","token":"zorvane"})" "\n") + started, std::string(5000, '{')}) {
        BridgeSocket peer = BridgeSocket::connectTo(socketPath);
        peer.send(first);
        EXPECT_TRUE(peer.readToEnd()) << first.substr(0, 20);
    }
    // Another user, where the test may become one: the folder keeps them out, and so does the
    // peer check once the folder and socket are opened to everyone.
    if (::geteuid() == 0) {
        const std::string hello = BridgeProtocol::helloLine(7) + started;
        for (const bool opened : {false, true}) {
            if (opened) {
                for (const auto& path : {runtime.path(), socketPath.parent_path()}) ::chmod(path.c_str(), 0711);
                ::chmod(socketPath.c_str(), 0777);
            }
            const pid_t child = ::fork();
            if (child == 0) {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
                BridgeSocket peer = BridgeSocket::connectTo(socketPath);
                if (!peer.isOpen()) ::_exit(0);
                peer.send(hello);
                ::_exit(peer.readToEnd() ? 0 : 1);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_EQ(status, 0) << (opened ? "opened" : "private");
        }
    }
    queue.runPending();
    EXPECT_EQ(events, Events {"listener ok"});

    // Two hosts at once, each heard on its own link and in its order; unusable lines are skipped
    // without losing the ones around them.
    events.clear();
    BridgeSocket first = BridgeSocket::connectTo(socketPath);
    first.send(BridgeProtocol::helloLine(4242));
    ASSERT_TRUE(waitForEvents(1));
    BridgeSocket second = BridgeSocket::connectTo(socketPath);
    second.send(BridgeProtocol::helloLine(std::nullopt) + R"({"type":"pickerShown"})" "\n" + started + "not json\n\n"
                + R"({"type":"selection","selectionID":"x","imageBase64":"iVBORw0KGgo="})" "\n" + selectionLine(R"(,"title":12)") + cancel);
    ASSERT_TRUE(waitForEvents(6));
    const std::string a = events[0].substr(3, events[0].find(' ', 3) - 3), b = events[1].substr(3, events[1].find(' ', 3) - 3);
    EXPECT_EQ(events, (Events {"up " + a + " 4242", "up " + b + " 0", b + " shown", b + " started Título",
                               b + " selection 8 Contenido web", b + " cancel"}));

    // Each request reaches only the host it names, exactly.
    EXPECT_TRUE(service->requestActivation(std::stoull(a)));
    EXPECT_TRUE(service->requestCancellation(std::stoull(b)));
    EXPECT_EQ(first.receiveLine(), std::string(BridgeProtocol::activateLine));
    EXPECT_EQ(second.receiveLine(), cancel);
    // A host leaving is reported once, and can no longer be asked.
    first.close();
    ASSERT_TRUE(waitForEvents(7));
    EXPECT_EQ(events.back(), "down " + a);
    EXPECT_FALSE(service->requestActivation(std::stoull(a)));

    // A second instance finds the socket in use and says so; the first one's socket is removed
    // when it ends, and what a crash would leave behind does not stop the next start.
    auto other = makeService("other ");
    ASSERT_TRUE(waitForEvents(8));
    EXPECT_EQ(events.back(), "other listener La extensión del navegador no puede conectar con Zorvane: otro programa ya escucha en "
                                 + socketPath.string() + ". Zorvane lo volverá a intentar.");
    service.reset();
    other.reset();
    EXPECT_FALSE(std::filesystem::exists(socketPath));
    BridgeSocket stale(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address {AF_UNIX, {}};
    socketPath.native().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(stale.descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    stale.close();
    service = makeService();
    ASSERT_TRUE(waitForEvents(9));
    EXPECT_EQ(events.back(), "listener ok");
}

TEST_F(BrowserBridgeServiceTest, AListenerThatCannotStartSaysWhyAndIsTriedAgain)
{
    std::filesystem::create_directories(socketPath); // a folder where the socket goes
    auto service = makeService();
    queue.runPending();
    EXPECT_EQ(events, Events {"listener La extensión del navegador no puede conectar con Zorvane: " + socketPath.string()
                              + " está ocupado por otro archivo. Zorvane lo volverá a intentar."});
    std::filesystem::remove(socketPath);
    queue.advance(BrowserBridgeService::listenRetryInterval);
    EXPECT_EQ(events.back(), "listener ok");
    BridgeSocket host = BridgeSocket::connectTo(socketPath);
    host.send(BridgeProtocol::helloLine(std::nullopt));
    EXPECT_TRUE(waitForEvents(3));
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
    BridgeSocket application(link[0]), socket(link[1]), browserOut(fromBrowser[1]), hostIn(fromBrowser[0]);

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
