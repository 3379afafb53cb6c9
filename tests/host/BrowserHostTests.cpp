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
const std::string cancel = R"({"type":"cancel"})";
const std::string activate = R"({"type":"activate"})";

// A host connected to a stand-in application, past its hello.
struct ConnectedHost {
    LoopbackListener application {BridgeProtocol::port};
    HostProcess host {hostExecutable};
    LoopbackSocket link = application.accept();

    ConnectedHost()
    {
        if (link.receiveLine() != hello) throw std::runtime_error("the host did not connect with its hello");
    }
};

TEST(BrowserHostConnection, GivesUpWithStatusOneWhenNoApplicationListens)
{
    HostProcess host(hostExecutable);
    EXPECT_EQ(host.waitForExit(15s), 1);
    EXPECT_EQ(host.readFrame(1s), std::nullopt); // and it said nothing
}

TEST(BrowserHostConnection, ReachesALateApplicationAndSendsItsHelloFirst)
{
    // The browser may start the host, and the extension speak, while the application is still
    // starting up.
    HostProcess host(hostExecutable);
    ASSERT_TRUE(host.writeToStdin(HostProcess::frame(cancel)));
    std::this_thread::sleep_for(1000ms);
    LoopbackListener application(BridgeProtocol::port);
    LoopbackSocket link = application.accept(5s);
    EXPECT_EQ(link.receiveLine(), hello);
    EXPECT_EQ(link.receiveLine(), cancel + "\n");
}

TEST(BrowserHostToApplication, FramesArriveAsUnchangedLinesInOrderHoweverTheyAreCut)
{
    ConnectedHost connected;
    // The host parses nothing: odd spacing, non-ASCII text and member order pass untouched.
    const std::string first = R"({ "type" : "selectionStarted","selectionID":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","title":"Menú ☰"})";
    const std::string second = R"({"title":"x","type":"cancel"})";
    const std::string bytes = HostProcess::frame(first) + HostProcess::frame(second) + HostProcess::frame("[1,2,3]");

    // Header split in two, body split, then two frames in one write.
    for (const auto& [at, size] : {std::pair<std::size_t, std::size_t> {0, 2}, {2, 30}, {32, std::string::npos}}) {
        ASSERT_TRUE(connected.host.writeToStdin(bytes.substr(at, size)));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(connected.link.receiveLine(), first + "\n");
    EXPECT_EQ(connected.link.receiveLine(), second + "\n");
    EXPECT_EQ(connected.link.receiveLine(), "[1,2,3]\n");
}

TEST(BrowserHostToApplication, AcceptsAFrameOfExactlyTheLimit)
{
    ConnectedHost connected;
    std::string body(BridgeProtocol::maxFrameBodySize, 'A');
    auto writer = std::async(std::launch::async, [&] { return connected.host.writeToStdin(HostProcess::frame(body)); });
    const auto line = connected.link.receiveExactly(body.size() + 1, 60s);
    ASSERT_TRUE(writer.get());
    ASSERT_TRUE(line.has_value());
    EXPECT_TRUE(line->compare(0, body.size(), body) == 0 && line->back() == '\n');

    // And it keeps relaying afterwards.
    ASSERT_TRUE(connected.host.writeToStdin(HostProcess::frame("{}")));
    EXPECT_EQ(connected.link.receiveLine(), "{}\n");
}

TEST(BrowserHostToApplication, BadLengthsAndTheEndOfInputEndTheHostWithStatusZero)
{
    const std::string complete = HostProcess::frame(cancel);
    const auto header = [](std::uint32_t length) { return std::string(reinterpret_cast<const char*>(&length), 4); };
    struct Case {
        const char* name;
        std::string input;
        bool thenEndOfInput;
    };
    for (const Case& c : {Case {"length 0", complete + header(0) + "{}", false},
                          Case {"length over the limit", complete + header(BridgeProtocol::maxFrameBodySize + 1) + "{}", false},
                          Case {"between frames", complete, true}, Case {"inside a header", complete + complete.substr(0, 2), true},
                          Case {"inside a body", complete + complete.substr(0, 9), true}}) {
        SCOPED_TRACE(c.name);
        ConnectedHost connected;
        ASSERT_TRUE(connected.host.writeToStdin(c.input));
        if (c.thenEndOfInput) connected.host.closeStdin();
        // Only the whole frame reaches the application; the rest adds nothing.
        std::string unread;
        EXPECT_TRUE(connected.link.waitForClose(10s, &unread));
        EXPECT_EQ(unread, cancel + "\n");
        EXPECT_EQ(connected.host.waitForExit(), 0);
    }
}

TEST(BrowserHostToExtension, LinesBecomeOneFrameEachUntilTheApplicationQuits)
{
    ConnectedHost connected;
    ASSERT_TRUE(connected.link.send(activate + "\n" + cancel + "\n{\"type\":"));
    EXPECT_EQ(connected.host.readFrame(), activate);
    EXPECT_EQ(connected.host.readFrame(), cancel);
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(connected.link.send("\"activate\"}\n{\"type\":\"unfinished"));
    EXPECT_EQ(connected.host.readFrame(), activate);

    // Quitting ends a host waiting on its input, and the unfinished line is not passed on.
    connected.link.close();
    EXPECT_EQ(connected.host.waitForExit(), 0);
    EXPECT_EQ(connected.host.readFrame(1s), std::nullopt);
}

TEST(BrowserHostToExtension, DropsLinesOverTheLimitAndDeliversTheNext)
{
    ConnectedHost connected;
    const std::string atLimit(BridgeProtocol::maxApplicationLineSize, 'a');
    const std::string overLimit(BridgeProtocol::maxApplicationLineSize + 1, 'b');
    auto writer = std::async(std::launch::async,
                             [&] { return connected.link.send(atLimit + "\n" + overLimit + "\n" + cancel + "\n"); });
    EXPECT_EQ(connected.host.readFrame(30s), atLimit);
    EXPECT_EQ(connected.host.readFrame(30s), cancel);
    EXPECT_TRUE(writer.get());
}

TEST(BrowserHostLifetime, BrowserClosingItsOutputEndsTheHostWithStatusZero)
{
    // The browser went away without closing our input: writing to it must end the host, not
    // leave it running or kill it with a signal.
    ConnectedHost connected;
    connected.host.closeStdout();
    ASSERT_TRUE(connected.link.send(activate + "\n"));
    EXPECT_EQ(connected.host.waitForExit(), 0);
    EXPECT_TRUE(connected.link.waitForClose());
}

} // namespace
} // namespace zorvane
