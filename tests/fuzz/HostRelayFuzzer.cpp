// Both directions of ZorvaneBrowserHost against a plain reference: whatever the bytes and however
// the reads cut them, the output is exactly the whole frames (or lines) of the input, in order.

#include "app/bridge/BridgeProtocol.h"
#include "browser-host/HostRelay.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace {

using namespace zorvane;

// Hands out the input in uneven reads, as pipes and sockets do.
class ChoppyReader final : public host::ByteReader {
public:
    ChoppyReader(std::string_view bytes, unsigned seed) : bytes_(bytes), state_(seed | 1) {}
    std::ptrdiff_t read(void* into, std::size_t capacity) override
    {
        if (bytes_.empty()) return 0;
        state_ = state_ * 1103515245u + 12345u;
        const std::size_t size = std::min({capacity, bytes_.size(), static_cast<std::size_t>(1 + (state_ >> 16) % 19)});
        std::memcpy(into, bytes_.data(), size);
        bytes_.remove_prefix(size);
        return static_cast<std::ptrdiff_t>(size);
    }

private:
    std::string_view bytes_;
    unsigned state_;
};

class Collector final : public host::ByteWriter {
public:
    bool writeAll(const void* data, std::size_t size) override
    {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
};

std::string expectedLines(std::string_view input)
{
    std::string out;
    while (input.size() >= 4) {
        std::uint32_t length;
        std::memcpy(&length, input.data(), 4);
        if (length == 0 || length > BridgeProtocol::maxFrameBodySize || input.size() - 4 < length) break;
        out.append(input.substr(4, length));
        out.push_back('\n');
        input.remove_prefix(4 + length);
    }
    return out;
}

std::string expectedFrames(std::string_view input)
{
    std::string out;
    for (std::size_t end; (end = input.find('\n')) != std::string_view::npos; input.remove_prefix(end + 1)) {
        if (end > BridgeProtocol::maxApplicationLineSize) continue;
        const auto length = static_cast<std::uint32_t>(end);
        out.append(reinterpret_cast<const char*>(&length), 4);
        out.append(input.substr(0, end));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    ChoppyReader reader(input, data[0]);
    Collector output;
    std::mutex lock;
    const bool frames = data[0] & 1;
    if (frames) host::relayFramesToLines(reader, output);
    else host::relayLinesToFrames(reader, output, lock);
    if (output.bytes != (frames ? expectedLines(input) : expectedFrames(input))) std::abort();
    return 0;
}
