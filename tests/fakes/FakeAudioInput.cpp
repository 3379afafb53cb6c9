#include "fakes/FakeAudioInput.h"

#include <stdexcept>
#include <thread>
#include <utility>

namespace zorvane::fakes {

AudioFormat FakeAudioInput::inputFormat()
{
    std::lock_guard lock(mutex_);
    return format_;
}

void FakeAudioInput::installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block)
{
    std::lock_guard lock(mutex_);
    if (tap_) throw std::logic_error("a tap is already installed on bus 0");
    if (tapError_) std::rethrow_exception(std::exchange(tapError_, nullptr));
    tap_ = std::move(block);
    tapBufferSize_ = bufferSize;
    tapFormat_ = format;
    ++tapInstalls_;
}

void FakeAudioInput::removeTap()
{
    std::lock_guard call(tapCallMutex_);
    TapBlock released;
    {
        std::lock_guard lock(mutex_);
        released = std::move(tap_);
        tap_ = nullptr;
    }
}

void FakeAudioInput::prepare() {}

void FakeAudioInput::start()
{
    std::lock_guard lock(mutex_);
    ++starts_;
    if (startError_) std::rethrow_exception(std::exchange(startError_, nullptr));
    running_ = true;
}

bool FakeAudioInput::isRunning()
{
    std::lock_guard lock(mutex_);
    return running_;
}

void FakeAudioInput::stop()
{
    std::lock_guard lock(mutex_);
    running_ = false;
}

void FakeAudioInput::requestAccess(std::function<void()> completion)
{
    std::lock_guard lock(mutex_);
    accessRequests_.push_back(std::move(completion));
}

void FakeAudioInput::setInputFormat(AudioFormat format)
{
    std::lock_guard lock(mutex_);
    format_ = format;
}

void FakeAudioInput::failNextStart(std::exception_ptr error)
{
    std::lock_guard lock(mutex_);
    startError_ = std::move(error);
}

void FakeAudioInput::failNextTap(std::exception_ptr error)
{
    std::lock_guard lock(mutex_);
    tapError_ = std::move(error);
}

bool FakeAudioInput::deliver(const AudioBuffer& buffer)
{
    std::lock_guard call(tapCallMutex_);
    TapBlock tap;
    {
        std::lock_guard lock(mutex_);
        if (!tap_ || !running_) return false;
        tap = tap_;
    }
    tap(buffer);
    return true;
}

std::size_t FakeAudioInput::deliverOnAudioThread(const std::vector<AudioBuffer>& buffers)
{
    std::size_t delivered = 0;
    std::thread audio([&] {
        for (const AudioBuffer& b : buffers)
            if (deliver(b)) ++delivered;
    });
    audio.join();
    return delivered;
}

bool FakeAudioInput::isTapInstalled() const
{
    std::lock_guard lock(mutex_);
    return static_cast<bool>(tap_);
}

std::uint32_t FakeAudioInput::tapBufferSize() const
{
    std::lock_guard lock(mutex_);
    return tapBufferSize_;
}

AudioFormat FakeAudioInput::tapFormat() const
{
    std::lock_guard lock(mutex_);
    return tapFormat_;
}

std::size_t FakeAudioInput::tapInstallCount() const
{
    std::lock_guard lock(mutex_);
    return tapInstalls_;
}

std::size_t FakeAudioInput::startCount() const
{
    std::lock_guard lock(mutex_);
    return starts_;
}

std::size_t FakeAudioInput::pendingAccessRequestCount() const
{
    std::lock_guard lock(mutex_);
    return accessRequests_.size();
}

void FakeAudioInput::answerAccessRequests()
{
    std::vector<std::function<void()>> requests;
    {
        std::lock_guard lock(mutex_);
        requests.swap(accessRequests_);
    }
    std::thread platform([&] {
        for (const auto& completion : requests)
            if (completion) completion();
    });
    platform.join();
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
