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
    // Each report as one line naming the host by the browser process it said it serves (0: none).
    std::shared_ptr<BrowserBridgeService> makeService()
    {
        auto made = BrowserBridgeService::create(queue, socketPath);
        const auto note = [this](auto id, const std::string& what) { events.push_back(std::to_string(browsers[id]) + " " + what); };
        made->onHostConnected = [this, note](const auto& host) {
            browsers[hosts.emplace_back(host.id)] = host.browserProcessID.value_or(0);
            note(host.id, "up");
        };
        made->onHostDisconnected = [note](auto id) { note(id, "down"); };
        made->onSelectionStarted = [note](auto id, const auto& s) { note(id, "started " + s.title); };
        made->onSelection = [note](auto id, const auto& s) { note(id, "selection " + std::to_string(s.imageData.size()) + " " + s.title); };
        made->onCancel = [note](auto id) { note(id, "cancel"); };
        made->onPickerShown = [note](auto id) { note(id, "shown"); };
        made->onListenerChange = [this](const auto& failure) { events.push_back(failure.value_or("listening")); };
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
    std::vector<BrowserBridgeService::HostID> hosts;
    std::map<BrowserBridgeService::HostID, std::int32_t> browsers;
};

TEST_F(BrowserBridgeServiceTest, OnlyThisUsersHostsPastTheirHelloAreHeardEachOnItsOwnLink)
{
    std::filesystem::create_directories(socketPath.parent_path());
    std::filesystem::permissions(socketPath.parent_path(), std::filesystem::perms(0755));
    auto service = makeService();
    EXPECT_EQ(std::filesystem::status(socketPath.parent_path()).permissions(), std::filesystem::perms(0700)) << "others could reach the socket";

    // Whatever does not open with a hello is shut out at once, having changed nothing: a web page's
    // request, junk, a host's message without its hello, a wrong token, a first line that never ends.
    const std::string hello = BridgeProtocol::helloLine(7);
    for (const std::string& first : {"POST / HTTP/1.1\r\nContent-Type: text/plain\r\n\r\n" + hello + started, "x\n" + hello,
             started + hello, R"({"type":"hello","token":"zorvane"})" "\n" + started, std::string(5000, '{')}) {
        BridgeSocket peer = BridgeSocket::connectTo(socketPath);
        peer.send(first);
        EXPECT_TRUE(peer.readToEnd()) << first.substr(0, 20);
    }
    // Another user, where the test may become one: kept out by the folder, and by the peer check
    // once the folder and the socket are opened to everyone.
    for (const bool opened : {false, true}) {
        if (::geteuid() != 0) break;
        for (const auto& path : {runtime.path(), socketPath.parent_path(), socketPath}) if (opened) ::chmod(path.c_str(), 0777);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            BridgeSocket peer = BridgeSocket::connectTo(socketPath);
            ::_exit(!peer.isOpen() || (peer.send(hello + started), peer.readToEnd()) ? 0 : 1); // refused: closed
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(status, 0) << (opened ? "opened" : "private");
    }
    queue.runPending();
    EXPECT_EQ(events, Events {"listening"});

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
    EXPECT_EQ(events, (Events {"4242 up", "0 up", "0 shown", "0 started Título", "0 selection 8 Contenido web", "0 cancel"}));
    // Each request reaches only the host it names, exactly; a host that left is reported once.
    EXPECT_TRUE(service->requestActivation(hosts[0]));
    EXPECT_TRUE(service->requestCancellation(hosts[1]));
    EXPECT_EQ(first.receiveLine(), std::string(BridgeProtocol::activateLine));
    EXPECT_EQ(second.receiveLine(), cancel);
    first.close();
    ASSERT_TRUE(waitForEvents(7));
    EXPECT_EQ(events.back(), "4242 down");
    EXPECT_FALSE(service->requestActivation(hosts[0]));

    // A second instance leaves the socket in use alone and says so; the socket goes with the first
    // one, and what a crash would leave behind does not stop the next start.
    auto other = makeService();
    ASSERT_TRUE(waitForEvents(8));
    EXPECT_NE(events.back().find("otro programa ya escucha en " + socketPath.string()), std::string::npos);
    service.reset();
    EXPECT_FALSE(std::filesystem::exists(socketPath));
    sockaddr_un address {AF_UNIX, {}};
    socketPath.native().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(BridgeSocket(::socket(AF_UNIX, SOCK_STREAM, 0)).descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    service = makeService();
    ASSERT_TRUE(waitForEvents(9));
    EXPECT_EQ(events.back(), "listening");
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
