// The application's side: one authenticated connection delivering a large selection, from the
// first byte sent until the callback runs on the main queue (JSON reading and Base64 included).

#include "app/bridge/BrowserBridgeService.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/TemporaryDirectory.h"
#include "fakes/VirtualTime.h"

#include <benchmark/benchmark.h>
#include <sodium.h>

#include <stdexcept>
#include <string>

namespace {

using namespace zorvane;

std::string base64(const std::vector<unsigned char>& bytes)
{
    std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    text.pop_back(); // the terminating NUL
    return text;
}

void BM_ServiceSelectionDelivered(benchmark::State& state)
{
    const std::vector<unsigned char> image(static_cast<std::size_t>(state.range(0)), 0x5A);
    const std::string line = R"({"type":"selection","selectionID":"0E984725-C51C-4BF4-9960-E1C80E27ABA0","imageBase64":")"
        + base64(image) + R"(","title":"Imagen"})" + "\n";

    fakes::FakeClock clock;
    fakes::ManualMainQueue queue(clock);
    fakes::TemporaryDirectory runtime;
    auto service = BrowserBridgeService::create(queue, runtime / "zorvane/browser-bridge");
    std::size_t delivered = 0;
    service->onSelection = [&](auto, const BrowserBridgeService::Selection& s) { delivered += s.imageData.size(); };
    bool connected = false;
    service->onHostConnected = [&](const auto&) { connected = true; };
    service->start();
    fakes::BridgeSocket host = fakes::BridgeSocket::connectTo(service->socketPath());
    host.send(BridgeProtocol::helloLine(std::nullopt));
    if (!queue.runUntil([&] { return connected; })) throw std::runtime_error("no connection");

    for (auto _ : state) {
        const std::size_t before = delivered;
        host.send(line);
        if (!queue.runUntil([&] { return delivered > before; }, std::chrono::seconds(60))) throw std::runtime_error("lost");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}

BENCHMARK(BM_ServiceSelectionDelivered)->Arg(64 * 1024)->Arg(8 * 1024 * 1024)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
