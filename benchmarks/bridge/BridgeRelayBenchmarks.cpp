// Throughput of ZorvaneBrowserHost beside a plain copy of the same bytes over the same kind of
// socket (a Unix socket, as its link to the application), and the latency of one small message
// from the application to the extension's side of the host.
// The host is the real program; this process plays both the browser and the application.

#include "app/bridge/BridgeProtocol.h"
#include "HostProcess.h"
#include "fakes/TemporaryDirectory.h"

#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace zorvane;
using fakes::BridgeSocket;
using test_support::HostProcess;
using test_support::SocketListener;

constexpr int smallMessages = 100000;
const std::string smallMessage =
    R"({"type":"selectionStarted","selectionID":"0E984725-C51C-4BF4-9960-E1C80E27ABA0","title":"Botón de enviar"})";

void writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count <= 0) throw std::runtime_error("write failed");
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

void drain(int fd, std::size_t size)
{
    static char chunk[1 << 16];
    while (size > 0) {
        const ssize_t count = ::read(fd, chunk, std::min(size, sizeof chunk));
        if (count <= 0) throw std::runtime_error("read failed");
        size -= static_cast<std::size_t>(count);
    }
}

// A runtime folder of this process's own, where the host it starts looks for the application.
struct RuntimeFolder {
    fakes::TemporaryDirectory folder;
    RuntimeFolder()
    {
        ::setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
        std::filesystem::create_directory(BridgeProtocol::privateFolder());
    }
};

// The real host, connected to this process standing in for the application (and the browser).
struct RelayThroughHost {
    RuntimeFolder runtime;
    SocketListener application {BridgeProtocol::socketPath()};
    HostProcess host {ZORVANE_BENCHMARK_HOST_EXECUTABLE};
    BridgeSocket link = application.accept();

    RelayThroughHost()
    {
        if (!link.isOpen() || link.receiveLine() != BridgeProtocol::helloLine(::getpid()))
            throw std::runtime_error("the host did not connect");
    }
};

// A plain connection of the link's kind: the same bytes without a host in between.
struct PlainSocket {
    fakes::TemporaryDirectory folder;
    SocketListener listener {folder / "plain"};
    BridgeSocket sender = BridgeSocket::connectTo(listener.path());
    BridgeSocket receiver = listener.accept();
};

std::string framesOf(const std::string& body, int count)
{
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += HostProcess::frame(body);
    return bytes;
}

std::string linesOf(const std::string& body, int count)
{
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += body + "\n";
    return bytes;
}

// Browser → application: frames in on standard input, lines out on the socket.
void relayFramesThroughHost(benchmark::State& state, const std::string& frames, std::size_t lineBytes)
{
    RelayThroughHost relay;
    for (auto _ : state) {
        std::thread browser([&] { writeAll(relay.host.input.descriptor(), frames); });
        drain(relay.link.descriptor(), lineBytes);
        browser.join();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frames.size()));
}

void copyOverSocket(benchmark::State& state, const std::string& bytes)
{
    PlainSocket plain;
    for (auto _ : state) {
        std::thread sender([&] { plain.sender.send(bytes); });
        drain(plain.receiver.descriptor(), bytes.size());
        sender.join();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// The two hops a relay cannot avoid, pipe then socket, joined by a plain bulk copy.
void copyThroughPipeAndSocket(benchmark::State& state, const std::string& bytes)
{
    PlainSocket plain;
    int pipe[2];
    if (::pipe(pipe) != 0) throw std::runtime_error("pipe failed");
    std::thread relay([&] {
        std::vector<char> chunk(1 << 20);
        for (ssize_t count; (count = ::read(pipe[0], chunk.data(), chunk.size())) > 0;)
            plain.sender.send(std::string_view(chunk.data(), static_cast<std::size_t>(count)));
    });
    for (auto _ : state) {
        std::thread browser([&] { writeAll(pipe[1], bytes); });
        drain(plain.receiver.descriptor(), bytes.size());
        browser.join();
    }
    ::close(pipe[1]);
    relay.join();
    ::close(pipe[0]);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_HostLargestFrameToApplication(benchmark::State& state)
{
    const std::string body(BridgeProtocol::maxFrameBodySize, 'A');
    relayFramesThroughHost(state, HostProcess::frame(body), body.size() + 1);
}

void BM_SocketCopyOfLargestFrame(benchmark::State& state)
{
    copyOverSocket(state, HostProcess::frame(std::string(BridgeProtocol::maxFrameBodySize, 'A')));
}

void BM_PipeAndSocketCopyOfLargestFrame(benchmark::State& state)
{
    copyThroughPipeAndSocket(state, HostProcess::frame(std::string(BridgeProtocol::maxFrameBodySize, 'A')));
}

void BM_HostSmallMessagesToApplication(benchmark::State& state)
{
    relayFramesThroughHost(state, framesOf(smallMessage, smallMessages), (smallMessage.size() + 1) * smallMessages);
}

void BM_SocketCopyOfSmallMessageFrames(benchmark::State& state)
{
    copyOverSocket(state, framesOf(smallMessage, smallMessages));
}

void BM_PipeAndSocketCopyOfSmallMessageFrames(benchmark::State& state)
{
    copyThroughPipeAndSocket(state, framesOf(smallMessage, smallMessages));
}

// Application → browser: lines in on the socket, frames out on standard output.
void BM_HostSmallMessagesToExtension(benchmark::State& state)
{
    RelayThroughHost relay;
    const std::string lines = linesOf(smallMessage, smallMessages);
    for (auto _ : state) {
        std::thread application([&] { relay.link.send(lines); });
        drain(relay.host.output.descriptor(), (smallMessage.size() + 4) * smallMessages);
        application.join();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}

void BM_SocketCopyOfSmallMessageLines(benchmark::State& state)
{
    copyOverSocket(state, linesOf(smallMessage, smallMessages));
}

// One {"type":"activate"} from the application until its frame leaves the host.
void BM_HostRoundTripApplicationToExtension(benchmark::State& state)
{
    RelayThroughHost relay;
    const std::string_view line = BridgeProtocol::activateLine;
    for (auto _ : state) {
        relay.link.send(line);
        drain(relay.host.output.descriptor(), line.size() - 1 + 4);
    }
}

void BM_SocketRoundTripOfTheSameLine(benchmark::State& state)
{
    PlainSocket plain;
    const std::string_view line = BridgeProtocol::activateLine;
    for (auto _ : state) {
        plain.sender.send(line);
        drain(plain.receiver.descriptor(), line.size());
    }
}

BENCHMARK(BM_HostLargestFrameToApplication)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketCopyOfLargestFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipeAndSocketCopyOfLargestFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HostSmallMessagesToApplication)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketCopyOfSmallMessageFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipeAndSocketCopyOfSmallMessageFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HostSmallMessagesToExtension)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketCopyOfSmallMessageLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HostRoundTripApplicationToExtension)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SocketRoundTripOfTheSameLine)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
