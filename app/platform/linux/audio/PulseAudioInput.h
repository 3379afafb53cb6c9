#pragma once

#include "app/platform/AudioInput.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace zorvane::linux_platform {

// The default input of the sound server (PulseAudio, or PipeWire serving its protocol), captured at
// the source's own rate and channel count as 32-bit float. Blocks reach the tap on the client
// library's thread. Every call waits for the server at most `timeout`; a server that does not
// answer in time counts as no usable input. Callable from any thread.
class PulseAudioInput : public AudioInput {
public:
    explicit PulseAudioInput(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
    ~PulseAudioInput() override;
    PulseAudioInput(const PulseAudioInput&) = delete;
    PulseAudioInput& operator=(const PulseAudioInput&) = delete;

    // Sample rate 0 when there is no server, it does not answer, or its default source is not a
    // microphone (a monitor of an output would record the desktop's sound, not the user).
    AudioFormat inputFormat() override;
    void installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block) override;
    void removeTap() override;
    void prepare() override {}
    void start() override;
    bool isRunning() override;
    void stop() override;
    // There is no prompt for the microphone on this desktop: the answer is immediate.
    void requestAccess(std::function<void()> completion) override;
    // What the last inputFormat found missing: the server, its answer, or a microphone.
    std::optional<std::string> unavailableReason() override;

private:
    struct Source {
        std::string name;
        AudioFormat format;
    };
    using Deadline = std::chrono::steady_clock::time_point;

    // These run with the main loop locked.
    void openStream();
    // None when connected; otherwise the text for the user.
    const char* connect(Deadline deadline);
    std::optional<Source> defaultSource(Deadline deadline);
    template <typename Predicate>
    bool waitUntil(Predicate done, Deadline deadline);
    void releaseStream();
    void releaseContext();

    void readAvailable(); // on the client library's thread
    void deliver(const float* interleaved, std::uint32_t frames, const AudioFormat& format);

    const std::chrono::milliseconds timeout_;
    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;

    // The tap and its block assembly; held while a block is delivered, so removeTap can wait for it.
    std::mutex tapMutex_;
    TapBlock tap_;
    std::uint32_t bufferSize_ = 1024;
    AudioFormat tapFormat_;
    std::vector<float> pending_; // interleaved frames not yet delivered

    std::mutex reasonMutex_;
    std::optional<std::string> reason_;
};

} // namespace zorvane::linux_platform
