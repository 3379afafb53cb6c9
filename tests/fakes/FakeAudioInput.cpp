#include "fakes/FakeAudioInput.h"

#include <stdexcept>
#include <thread>
#include <utility>

namespace zorvane::fakes {

void FakeAudioInput::installTap(std::uint32_t, const AudioFormat& format, TapBlock block)
{
    std::lock_guard lock(mutex_);
    if (tap_) throw std::logic_error("a tap is already installed on bus 0");
    if (tapError_) std::rethrow_exception(std::exchange(tapError_, nullptr));
    tap_ = std::move(block);
    tapFormat_ = format;
}

void FakeAudioInput::removeTap()
{
    std::lock_guard call(tapCallMutex_);
    const TapBlock released = locked([&] { return std::exchange(tap_, nullptr); });
}

void FakeAudioInput::start()
{
    std::lock_guard lock(mutex_);
    ++starts_;
    if (startError_) std::rethrow_exception(std::exchange(startError_, nullptr));
    running_ = true;
}

bool FakeAudioInput::deliver(const AudioBuffer& buffer)
{
    std::lock_guard call(tapCallMutex_);
    const TapBlock tap = locked([&] { return running_ ? tap_ : nullptr; });
    if (!tap) return false;
    tap(buffer);
    return true;
}

std::size_t FakeAudioInput::deliverOnAudioThread(const std::vector<AudioBuffer>& buffers)
{
    std::size_t delivered = 0;
    std::thread([&] {
        for (const AudioBuffer& b : buffers) delivered += deliver(b) ? 1 : 0;
    }).join();
    return delivered;
}

void FakeAudioInput::answerAccessRequests()
{
    const auto requests = locked([&] { return std::exchange(accessRequests_, {}); });
    std::thread([&] {
        for (const auto& completion : requests)
            if (completion) completion();
    }).join();
}

AudioBuffer FakeAudioInput::block(std::vector<float> levels, std::uint32_t frames, bool alternate)
{
    AudioBuffer buffer;
    buffer.format = AudioFormat {48000, static_cast<std::uint32_t>(levels.size())};
    buffer.frameLength = frames;
    for (const float level : levels) {
        std::vector<float> channel(frames, level);
        if (alternate)
            for (std::size_t i = 1; i < channel.size(); i += 2) channel[i] = -level;
        buffer.floatChannelData.push_back(std::move(channel));
    }
    return buffer;
}

} // namespace zorvane::fakes
