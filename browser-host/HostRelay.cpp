#include "browser-host/HostRelay.h"

#include "app/bridge/BridgeProtocol.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace zorvane::host {

namespace {

// Slices of a large body: small enough to keep the host's memory flat, large enough that a
// 64 MiB frame costs few system calls.
constexpr std::size_t bodySliceSize = 1024 * 1024;
constexpr std::size_t socketReadSize = 16384;
// Bodies from this size on are moved from the pipe to the socket by the kernel, when it can.
constexpr std::size_t spliceThreshold = 64 * 1024;

void appendFrame(std::string& frames, std::string_view body)
{
    const auto length = static_cast<std::uint32_t>(body.size());
    char header[BridgeProtocol::frameHeaderSize];
    std::memcpy(header, &length, sizeof header); // native byte order, as the browser expects
    frames.append(header, sizeof header);
    frames.append(body);
}

} // namespace

std::ptrdiff_t DescriptorReader::read(void* into, std::size_t capacity)
{
    for (;;) {
        const ssize_t count = ::read(fd_, into, capacity);
        if (count < 0 && errno == EINTR) continue;
        return count;
    }
}

bool DescriptorWriter::writeAll(const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t count = isSocket_ ? ::send(fd_, bytes, size, MSG_NOSIGNAL) : ::write(fd_, bytes, size);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        bytes += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

bool readExactly(ByteReader& input, void* into, std::size_t size)
{
    char* bytes = static_cast<char*>(into);
    while (size > 0) {
        const std::ptrdiff_t count = input.read(bytes, size);
        if (count <= 0) return false;
        bytes += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

void relayFramesToLines(ByteReader& input, ByteWriter& socket)
{
    std::vector<char> slice;
    for (;;) {
        std::uint32_t length = 0;
        char header[BridgeProtocol::frameHeaderSize];
        if (!readExactly(input, header, sizeof header)) return;
        std::memcpy(&length, header, sizeof header);
        if (length == 0 || length > BridgeProtocol::maxFrameBodySize) return;

        std::size_t left = length;
#ifdef SPLICE_F_MOVE
        if (left >= spliceThreshold && input.descriptor() >= 0 && socket.socketDescriptor() >= 0) {
            bool unsupported = false;
            while (left > 0) {
                const ssize_t moved = ::splice(input.descriptor(), nullptr, socket.socketDescriptor(), nullptr,
                                               std::min(left, bodySliceSize), SPLICE_F_MOVE | SPLICE_F_MORE);
                if (moved < 0 && errno == EINTR) continue;
                // Not a pipe, or a socket that cannot take it: nothing was consumed, so copy instead.
                if (moved < 0 && (errno == EINVAL || errno == ENOSYS) && left == length) {
                    unsupported = true;
                    break;
                }
                if (moved <= 0) return;
                left -= static_cast<std::size_t>(moved);
            }
            if (!unsupported) {
                if (!socket.writeAll(&BridgeProtocol::lineTerminator, 1)) return;
                continue;
            }
        }
#endif
        while (left > 0) {
            const std::size_t size = std::min(left, bodySliceSize);
            if (slice.size() < size + 1) slice.resize(size + 1);
            if (!readExactly(input, slice.data(), size)) return;
            left -= size;
            std::size_t out = size;
            if (left == 0) slice[out++] = BridgeProtocol::lineTerminator;
            if (!socket.writeAll(slice.data(), out)) return;
        }
    }
}

bool LineFramer::feed(std::string_view bytes, ByteWriter& output, std::mutex& outputLock)
{
    frames_.clear();
    while (!bytes.empty()) {
        const void* found = std::memchr(bytes.data(), BridgeProtocol::lineTerminator, bytes.size());
        const std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data())
                                      : bytes.size();
        const std::string_view piece = bytes.substr(0, end);
        if (!discarding_ && pending_.size() + piece.size() > BridgeProtocol::maxApplicationLineSize) {
            discarding_ = true;
            pending_.clear();
            pending_.shrink_to_fit();
        }
        if (found) {
            if (!discarding_) {
                if (pending_.empty()) {
                    appendFrame(frames_, piece);
                } else {
                    pending_.append(piece);
                    appendFrame(frames_, pending_);
                    pending_.clear();
                }
            }
            discarding_ = false;
            bytes.remove_prefix(end + 1);
        } else {
            if (!discarding_) pending_.append(piece);
            bytes = {};
        }
    }
    if (frames_.empty()) return true;
    std::lock_guard lock(outputLock);
    return output.writeAll(frames_.data(), frames_.size());
}

bool relayLinesToFrames(ByteReader& socket, ByteWriter& output, std::mutex& outputLock)
{
    LineFramer framer;
    char chunk[socketReadSize];
    for (;;) {
        const std::ptrdiff_t count = socket.read(chunk, sizeof chunk);
        if (count <= 0) return true;
        if (!framer.feed(std::string_view(chunk, static_cast<std::size_t>(count)), output, outputLock)) return false;
    }
}

} // namespace zorvane::host
