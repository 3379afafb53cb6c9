#pragma once

#include "app/platform/AudioInput.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

namespace zorvane::fakes {

// An audio input driven by the test: it says what the device delivers and hands blocks to the tap,
// either on its own thread or on a separate "audio" thread. Thread-safe.
class FakeAudioInput : public AudioInput {
public:
    AudioFormat inputFormat() override;
    void installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block) override;
    void removeTap() override;
    void prepare() override;
    void start() override;
    bool isRunning() override;
    void stop() override;
    void requestAccess(std::function<void()> completion) override;

    // A device at 48 kHz mono unless told otherwise; sample rate 0 is "no usable device".
    void setInputFormat(AudioFormat format);
    // The next start() (or installTap()) throws this error.
    void failNextStart(std::exception_ptr error);
    void failNextTap(std::exception_ptr error);

    // Hands one block to the tap, if one is installed and capture runs. Returns whether it did.
    bool deliver(const AudioBuffer& buffer);
    // The same from a separate thread, block by block, waiting until the thread is done.
    std::size_t deliverOnAudioThread(const std::vector<AudioBuffer>& buffers);

    bool isTapInstalled() const;
    std::uint32_t tapBufferSize() const;
    AudioFormat tapFormat() const;
    std::size_t tapInstallCount() const;
    std::size_t startCount() const;

    std::size_t pendingAccessRequestCount() const;
    // Answers every pending access request, from a separate thread as the platform would.
    void answerAccessRequests();

    // A block of `frames` frames in every channel. Channel c holds `levels[c]`, with the sign
    // alternating from sample to sample when `alternate` is set.
    static AudioBuffer block(std::vector<float> levels, std::uint32_t frames = 1024, bool alternate = false);
    static AudioBuffer silence(std::uint32_t frames = 1024) { return block({0.0f}, frames); }
    static AudioBuffer voice(std::uint32_t frames = 1024) { return block({0.1f}, frames, true); }

private:
    mutable std::mutex mutex_;
    std::mutex tapCallMutex_; // held while the tap runs, so removeTap waits for a block in flight
    AudioFormat format_ {48000, 1};
    TapBlock tap_;
    std::uint32_t tapBufferSize_ = 0;
    AudioFormat tapFormat_;
    std::size_t tapInstalls_ = 0;
    bool running_ = false;
    std::size_t starts_ = 0;
    std::exception_ptr startError_;
    std::exception_ptr tapError_;
    std::vector<std::function<void()>> accessRequests_;
};

} // namespace zorvane::fakes
