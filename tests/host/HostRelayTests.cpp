// The host's two relays on the descriptors the program runs them on: a pipe from the browser and
// the loopback socket to the application (where the largest frames go by splice). Arbitrary bytes
// and cuts are the fuzzer's (tests/fuzz/HostRelayFuzzer.cpp); the program starting, finding the
// application and ending with the browser, the browser end-to-end test's (tests/e2e_browser).

#include "app/bridge/BridgeProtocol.h"
#include "browser-host/HostRelay.h"
#include "fakes/FakeBridgePeers.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <thread>

namespace zorvane {
namespace {

using fakes::LoopbackSocket;
using namespace std::chrono_literals;

std::string header(std::uint32_t length)
{
    return std::string(reinterpret_cast<const char*>(&length), 4);
}

std::string frame(const std::string& body)
{
    return header(static_cast<std::uint32_t>(body.size())) + body;
}

TEST(HostRelay, TheLargestFrameAndLinePassUntouchedAndAnythingLongerDoesNot)
{
    fakes::LoopbackListener listener;
    LoopbackSocket application = LoopbackSocket::connectTo(listener.port());
    LoopbackSocket socket = listener.accept();
    int fromBrowser[2], toBrowser[2];
    ASSERT_EQ(::pipe2(fromBrowser, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(toBrowser, O_CLOEXEC), 0);
    LoopbackSocket browserOut(fromBrowser[1]), hostIn(fromBrowser[0]), hostOut(toBrowser[1]), browserIn(toBrowser[0]);

    // Browser to application: a length past the limit ends the relay.
    const std::string largest(BridgeProtocol::maxFrameBodySize, 'A');
    std::thread browser([&] { browserOut.send(frame(largest) + frame("{}") + header(BridgeProtocol::maxFrameBodySize + 1) + "{}"); });
    std::thread relay([&] {
        host::DescriptorReader input(hostIn.descriptor());
        host::DescriptorWriter output(socket.descriptor(), true);
        host::relayFramesToLines(input, output);
        socket.shutdownWrite();
    });
    EXPECT_EQ(application.receiveExactly(largest.size() + 1, 60s), largest + "\n");
    std::string unread;
    EXPECT_TRUE(application.waitForClose(20s, &unread));
    EXPECT_EQ(unread, "{}\n");
    relay.join();
    browser.join();

    // Application to browser: a line past the limit is dropped and the next one still arrives.
    const std::string atLimit(BridgeProtocol::maxApplicationLineSize, 'a');
    std::thread app([&] {
        application.send(atLimit + "\n" + std::string(BridgeProtocol::maxApplicationLineSize + 1, 'b') + "\n{}\n");
        application.close();
    });
    relay = std::thread([&] {
        host::DescriptorReader input(socket.descriptor());
        host::DescriptorWriter output(hostOut.descriptor(), false);
        std::mutex lock;
        host::relayLinesToFrames(input, output, lock);
        hostOut.close();
    });
    EXPECT_EQ(browserIn.receiveExactly(atLimit.size() + 4, 30s), frame(atLimit));
    unread.clear();
    EXPECT_TRUE(browserIn.waitForClose(30s, &unread));
    EXPECT_EQ(unread, frame("{}"));
    relay.join();
    app.join();
}

} // namespace
} // namespace zorvane
