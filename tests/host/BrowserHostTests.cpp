// ZorvaneBrowserHost as the browser runs it: a child process on pipes, against a stand-in
// application listening on the bridge's port.

#include "app/bridge/BridgeProtocol.h"
#include "fakes/FakeBridgePeers.h"
#include "host/HostProcess.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace zorvane {
namespace {

using fakes::LoopbackListener;
using fakes::LoopbackSocket;
using test_support::HostProcess;
using namespace std::chrono_literals;

constexpr const char* hostExecutable = ZORVANE_TEST_HOST_EXECUTABLE;
const std::string hello(BridgeProtocol::helloLine);

// A host connected to a stand-in application, past its hello.
struct ConnectedHost {
    LoopbackListener application {BridgeProtocol::port};
    HostProcess host {hostExecutable};
    LoopbackSocket link;

    ConnectedHost()
    {
        link = application.accept();
        if (!link.isOpen()) throw std::runtime_error("the host never connected");
        if (link.receiveLine() != hello) throw std::runtime_error("the host did not start with its hello");
    }
};

TEST(BrowserHostConnection, GivesUpWithStatusOneWhenNoApplicationListens)
{
    HostProcess host(hostExecutable);
    EXPECT_EQ(host.waitForExit(15s), 1);
    EXPECT_TRUE(host.stdoutEndsWithoutMore(1s));
}

TEST(BrowserHostConnection, ReachesAnApplicationThatStartsListeningSoonAfter)
{
    // The browser may start the host while the application is still starting up.
    HostProcess host(hostExecutable);
    std::this_thread::sleep_for(1000ms);
    LoopbackListener application(BridgeProtocol::port);
    LoopbackSocket link = application.accept(5s);
    ASSERT_TRUE(link.isOpen());
    EXPECT_EQ(link.receiveLine(), hello);
}

TEST(BrowserHostConnection, SendsItsHelloBeforeAnythingTheExtensionSaid)
{
    LoopbackListener application(BridgeProtocol::port);
    HostProcess host(hostExecutable);
    ASSERT_TRUE(host.writeToStdin(HostProcess::frame(R"({"type":"cancel"})")));
    LoopbackSocket link = application.accept();
    ASSERT_TRUE(link.isOpen());
    EXPECT_EQ(link.receiveLine(), hello);
    EXPECT_EQ(link.receiveLine(), "{\"type\":\"cancel\"}\n");
}

TEST(BrowserHostToApplication, FramesArriveAsUnchangedLinesInOrderHoweverTheyAreCut)
{
    ConnectedHost connected;
    // The host parses nothing: odd spacing, non-ASCII text and member order pass untouched.
    const std::string first = R"({ "type" : "selectionStarted","selectionID":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","title":"Menú ☰"})";
    const std::string second = R"({"title":"x","type":"cancel"})";
    const std::string third = "[1,2,3]";
    const std::string bytes = HostProcess::frame(first) + HostProcess::frame(second) + HostProcess::frame(third);

    // Header split in two, body split, then two frames in one write.
    ASSERT_TRUE(connected.host.writeToStdin(bytes.substr(0, 2)));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(connected.host.writeToStdin(bytes.substr(2, 30)));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(connected.host.writeToStdin(bytes.substr(32)));

    EXPECT_EQ(connected.link.receiveLine(), first + "\n");
    EXPECT_EQ(connected.link.receiveLine(), second + "\n");
    EXPECT_EQ(connected.link.receiveLine(), third + "\n");
}

TEST(BrowserHostToApplication, AcceptsAFrameOfExactlyTheLimit)
{
    ConnectedHost connected;
    std::string body(BridgeProtocol::maxFrameBodySize, 'A');
    body.front() = '"';
    body.back() = '"';
    auto writer = std::async(std::launch::async, [&] { return connected.host.writeToStdin(HostProcess::frame(body)); });
    const auto line = connected.link.receiveExactly(body.size() + 1, 60s);
    ASSERT_TRUE(writer.get());
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->size(), body.size() + 1);
    EXPECT_EQ(line->back(), '\n');
    EXPECT_TRUE(line->compare(0, body.size(), body) == 0);

    // And it keeps relaying afterwards.
    ASSERT_TRUE(connected.host.writeToStdin(HostProcess::frame("{}")));
    EXPECT_EQ(connected.link.receiveLine(), "{}\n");
}

TEST(BrowserHostToApplication, InvalidFrameLengthsEndTheHostWithStatusZero)
{
    for (const std::uint32_t length : {0u, BridgeProtocol::maxFrameBodySize + 1}) {
        SCOPED_TRACE(length);
        ConnectedHost connected;
        std::string header(4, '\0');
        std::memcpy(header.data(), &length, 4);
        ASSERT_TRUE(connected.host.writeToStdin(header + "{}"));
        std::string unread;
        EXPECT_TRUE(connected.link.waitForClose(10s, &unread));
        EXPECT_EQ(unread, "");
        EXPECT_EQ(connected.host.waitForExit(), 0);
    }
}

TEST(BrowserHostToApplication, EndOfInputEndsTheHostQuietlyEvenInsideAFrame)
{
    const std::string complete = HostProcess::frame(R"({"type":"cancel"})");
    struct Case {
        const char* name;
        std::string input;
    };
    for (const Case& c : {Case {"between frames", complete}, Case {"inside a header", complete + complete.substr(0, 2)},
                          Case {"inside a body", complete + complete.substr(0, 9)}}) {
        SCOPED_TRACE(c.name);
        ConnectedHost connected;
        ASSERT_TRUE(connected.host.writeToStdin(c.input));
        connected.host.closeStdin();
        // Only the whole frame reaches the application; the cut one adds nothing.
        std::string unread;
        EXPECT_TRUE(connected.link.waitForClose(10s, &unread));
        EXPECT_EQ(unread, "{\"type\":\"cancel\"}\n");
        EXPECT_EQ(connected.host.waitForExit(), 0);
    }
}

TEST(BrowserHostToExtension, LinesBecomeOneFrameEachInOrderHoweverTheyArrive)
{
    ConnectedHost connected;
    ASSERT_TRUE(connected.link.send("{\"type\":\"activate\"}\n{\"type\":\"cancel\"}\n{\"type\":"));
    EXPECT_EQ(connected.host.readFrame(), R"({"type":"activate"})");
    EXPECT_EQ(connected.host.readFrame(), R"({"type":"cancel"})");
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(connected.link.send("\"activate\"}\n"));
    EXPECT_EQ(connected.host.readFrame(), R"({"type":"activate"})");
}

TEST(BrowserHostToExtension, DropsLinesOverTheLimitAndDeliversTheNext)
{
    ConnectedHost connected;
    const std::string atLimit(BridgeProtocol::maxApplicationLineSize, 'a');
    const std::string overLimit(BridgeProtocol::maxApplicationLineSize + 1, 'b');
    auto writer = std::async(std::launch::async, [&] {
        return connected.link.send(atLimit + "\n") && connected.link.send(overLimit + "\n")
            && connected.link.send("{\"type\":\"cancel\"}\n");
    });
    const auto first = connected.host.readFrame(30s);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->size(), atLimit.size());
    EXPECT_EQ(connected.host.readFrame(30s), R"({"type":"cancel"})");
    EXPECT_TRUE(writer.get());
}

TEST(BrowserHostLifetime, ApplicationQuittingEndsAHostWaitingOnItsInput)
{
    ConnectedHost connected;
    connected.link.send("{\"type\":\"activate\"}\n{\"type\":\"unfinished");
    EXPECT_EQ(connected.host.readFrame(), R"({"type":"activate"})");
    connected.link.close();
    EXPECT_EQ(connected.host.waitForExit(), 0);
    // The unfinished line is not passed on.
    EXPECT_TRUE(connected.host.stdoutEndsWithoutMore(1s));
}

TEST(BrowserHostLifetime, BrowserClosingItsInputEndsTheHostAndItsLink)
{
    ConnectedHost connected;
    connected.host.closeStdin();
    EXPECT_TRUE(connected.link.waitForClose());
    EXPECT_EQ(connected.host.waitForExit(), 0);
}

TEST(BrowserHostLifetime, BrowserClosingItsOutputEndsTheHostWithStatusZero)
{
    // The browser went away without closing our input: writing to it must end the host, not
    // leave it running or kill it with a signal.
    ConnectedHost connected;
    connected.host.closeStdout();
    ASSERT_TRUE(connected.link.send("{\"type\":\"activate\"}\n"));
    EXPECT_EQ(connected.host.waitForExit(), 0);
    EXPECT_TRUE(connected.link.waitForClose());
}

} // namespace
} // namespace zorvane
