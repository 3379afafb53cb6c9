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
    // Runs `f` under the lock (defined first, so that the members below can deduce its type).
    template <typename F>
    auto locked(F f) const
    {
        std::lock_guard lock(mutex_);
        return f();
    }

public:
    AudioFormat inputFormat() override { return locked([&] { return format_; }); }
    void installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block) override;
    void removeTap() override;
    void prepare() override {}
    void start() override;
    bool isRunning() override { return locked([&] { return running_; }); }
    void stop() override { locked([&] { running_ = false; }); }
    void requestAccess(std::function<void()> completion) override
    {
        locked([&] { accessRequests_.push_back(std::move(completion)); });
    }

    // A device at 48 kHz mono unless told otherwise; sample rate 0 is "no usable device".
    void setInputFormat(AudioFormat format) { locked([&] { format_ = format; }); }
    // The next start() (or installTap()) throws this error.
    void failNextStart(std::exception_ptr error) { locked([&] { startError_ = std::move(error); }); }
    void failNextTap(std::exception_ptr error) { locked([&] { tapError_ = std::move(error); }); }

    // Hands one block to the tap, if one is installed and capture runs. Returns whether it did.
    bool deliver(const AudioBuffer& buffer);
    // The same from a separate thread, block by block, waiting until the thread is done.
    std::size_t deliverOnAudioThread(const std::vector<AudioBuffer>& buffers);

    bool isTapInstalled() const { return locked([&] { return static_cast<bool>(tap_); }); }
    AudioFormat tapFormat() const { return locked([&] { return tapFormat_; }); }
    std::size_t startCount() const { return locked([&] { return starts_; }); }
    std::size_t pendingAccessRequestCount() const { return locked([&] { return accessRequests_.size(); }); }
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
    AudioFormat tapFormat_;
    bool running_ = false;
    std::size_t starts_ = 0;
    std::exception_ptr startError_;
    std::exception_ptr tapError_;
    std::vector<std::function<void()>> accessRequests_;
};

} // namespace zorvane::fakes
