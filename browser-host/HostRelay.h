#pragma once

// The two directions of ZorvaneBrowserHost, written against small byte-stream interfaces so
// the fuzzers and benchmarks drive exactly the code the program runs.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace zorvane::host {

class ByteReader {
public:
    virtual ~ByteReader() = default;
    // Up to `capacity` bytes: the count read, 0 at the end of input, negative on failure.
    virtual std::ptrdiff_t read(void* into, std::size_t capacity) = 0;
    // The file descriptor behind it, for moving bytes without copying them; -1 when none.
    virtual int descriptor() const { return -1; }
};

class ByteWriter {
public:
    virtual ~ByteWriter() = default;
    // Every byte, or false as soon as one write reports 0 or fails. Empty data writes nothing.
    virtual bool writeAll(const void* data, std::size_t size) = 0;
    // The socket behind it, for moving bytes without copying them; -1 when none.
    virtual int socketDescriptor() const { return -1; }
};

// A file descriptor: standard input or output, or the socket.
class DescriptorReader final : public ByteReader {
public:
    explicit DescriptorReader(int fd) : fd_(fd) {}
    std::ptrdiff_t read(void* into, std::size_t capacity) override;
    int descriptor() const override { return fd_; }

private:
    int fd_;
};

class DescriptorWriter final : public ByteWriter {
public:
    // Sockets are written with send() so a vanished peer is an error, not SIGPIPE.
    DescriptorWriter(int fd, bool isSocket) : fd_(fd), isSocket_(isSocket) {}
    bool writeAll(const void* data, std::size_t size) override;
    int socketDescriptor() const override { return isSocket_ ? fd_ : -1; }

private:
    int fd_;
    bool isSocket_;
};

// Reads exactly `size` bytes, as many reads as it takes. False at the end of input or on failure,
// even part-way.
bool readExactly(ByteReader& input, void* into, std::size_t size);

// Browser to application: each frame from standard input becomes its body plus one line feed on
// the socket. Returns at the end of input, on a frame length of 0 or above the limit, or when the
// socket cannot be written. Input is never read past the frame being relayed; a body is passed on
// in slices as it arrives (a large one from a pipe straight into the socket, where the system
// allows), and an application only acts on it once its line feed follows.
void relayFramesToLines(ByteReader& input, ByteWriter& socket);

// Application to browser: cuts the socket's bytes into lines and writes each as one frame to
// standard output under the lock. A line over the limit is dropped, and is never buffered past the
// limit while it is being skipped.
class LineFramer {
public:
    // False when standard output could not be written.
    bool feed(std::string_view bytes, ByteWriter& output, std::mutex& outputLock);

private:
    std::string pending_;
    bool discarding_ = false; // inside a line already known to be too long
    std::string frames_;      // the frames of one feed, written with one call
};

// Runs the application-to-browser direction until the socket ends or fails (true) or standard
// output fails (false).
bool relayLinesToFrames(ByteReader& socket, ByteWriter& output, std::mutex& outputLock);

} // namespace zorvane::host
