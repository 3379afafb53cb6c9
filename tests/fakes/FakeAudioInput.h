#pragma once

#include "app/platform/AudioInput.h"

#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace zorvane::fakes {

// Completions of permission prompts, held until the test answers them from another thread, as
// the platform would.
class PendingAnswers {
public:
    void add(std::function<void()> completion)
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(completion));
    }
    std::size_t count() const
    {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }
    void answerAll()
    {
        std::unique_lock lock(mutex_);
        const auto answers = std::exchange(pending_, {});
        lock.unlock();
        std::thread([&] {
            for (const auto& answer : answers) answer();
        }).join();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::function<void()>> pending_;
};

// An audio input driven by the test, whose fields it sets between calls. deliver() hands a block
// to the tap from whatever thread calls it, as the audio thread does; the test joins that thread
// before it calls anything else, so nothing here needs a lock.
class FakeAudioInput : public AudioInput {
public:
    AudioFormat format {48000, 1};           // sample rate 0: no usable device
    std::exception_ptr startError, tapError; // thrown once, by the next start() / installTap()
    AudioFormat tapFormat;
    TapBlock tap;
    bool running = false;
    std::size_t starts = 0;

    AudioFormat inputFormat() override { return format; }
    void installTap(std::uint32_t, const AudioFormat& requested, TapBlock block) override
    {
        if (tapError) std::rethrow_exception(std::exchange(tapError, nullptr));
        if (tap) throw std::logic_error("a tap is already installed on bus 0");
        tap = std::move(block);
        tapFormat = requested;
    }
    void removeTap() override { tap = nullptr; }
    void prepare() override {}
    void start() override
    {
        ++starts;
        if (startError) std::rethrow_exception(std::exchange(startError, nullptr));
        running = true;
    }
    bool isRunning() override { return running; }
    void stop() override { running = false; }
    void requestAccess(std::function<void()> completion) override { accessRequests_.add(std::move(completion)); }

    // Hands one block to the tap, if one is installed and capture runs; whether it did.
    bool deliver(const AudioBuffer& buffer)
    {
        if (running && tap) tap(buffer);
        return running && tap;
    }
    std::size_t pendingAccessRequestCount() const { return accessRequests_.count(); }
    void answerAccessRequests() { accessRequests_.answerAll(); }

    // `frames` frames per channel; channel c holds levels[c], its sign alternating when asked.
    static AudioBuffer block(const std::vector<float>& levels, std::uint32_t frames = 1024, bool alternate = false)
    {
        AudioBuffer buffer {AudioFormat {48000, static_cast<std::uint32_t>(levels.size())}, {}, frames};
        for (const float level : levels) {
            auto& channel = buffer.floatChannelData.emplace_back(frames, level);
            for (std::size_t i = 1; alternate && i < channel.size(); i += 2) channel[i] = -level;
        }
        return buffer;
    }
    static AudioBuffer silence() { return block({0.0f}); }
    static AudioBuffer voice() { return block({0.1f}, 1024, true); }

private:
    PendingAnswers accessRequests_;
};

} // namespace zorvane::fakes
