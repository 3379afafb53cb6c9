// The host's relay from the browser on the descriptors the program runs it on: a pipe from the
// browser and a socket to the application, where the largest frames go by splice. Arbitrary bytes
// and cuts, and the other direction, are the fuzzer's (tests/fuzz/HostRelayFuzzer.cpp); the program
// starting, finding the application and ending with the browser, the browser end-to-end test's.

#include "app/bridge/BridgeProtocol.h"
#include "browser-host/HostRelay.h"
#include "fakes/FakeBridgePeers.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <thread>

namespace zorvane {
namespace {

using fakes::LoopbackSocket;

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
