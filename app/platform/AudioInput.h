#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zorvane {

struct AudioFormat {
    double sampleRate = 0; // frames per second; 0 when there is no usable input device
    std::uint32_t channelCount = 0;
};

// One block of captured audio: 32-bit float samples, one array per channel (not interleaved).
struct AudioBuffer {
    AudioFormat format;
    // Empty when the block carries no float samples.
    std::vector<std::vector<float>> floatChannelData;
    // Frames in the block; never trust it beyond the length of a channel's array.
    std::uint32_t frameLength = 0;
};

// The default audio input: one capture graph, reused by every dictation. Called on the main thread,
// except the tap block, which runs on an audio thread. No call blocks its caller for more than a
// short bound (about a second): a sound server that does not answer in time is "no usable input"
// (inputFormat gives sampleRate 0, start throws), never a frozen window.
class AudioInput {
public:
    using TapBlock = std::function<void(const AudioBuffer&)>;

    virtual ~AudioInput() = default;

    // The format the input delivers on bus 0, read afresh (the device may have changed).
    virtual AudioFormat inputFormat() = 0;
    // Delivers blocks of about `bufferSize` frames in `format` to `block` on an audio thread, from
    // the next start on. At most one tap is installed. Throws std::system_error if it cannot.
    virtual void installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block) = 0;
    // Once this returns, the block is never called again and has been released.
    virtual void removeTap() = 0;

    virtual void prepare() = 0;
    // Throws (std::system_error or a LocalizedError) with a text for the user when capture cannot start.
    virtual void start() = 0;
    virtual bool isRunning() = 0;
    virtual void stop() = 0;

    // Asks the user for microphone access if the platform has such a prompt. `completion` runs once
    // the user has answered, on any thread; the answer is read back from Permissions.
    virtual void requestAccess(std::function<void()> completion) = 0;
    // Why the last look for an input found none, in Spanish for the user ("No hay un micrófono
    // disponible."); none when it found one or the platform has no reason to give.
    virtual std::optional<std::string> unavailableReason() { return std::nullopt; }
};

} // namespace zorvane
