#pragma once

#include "app/platform/AudioInput.h"
#include "app/platform/Clock.h"
#include "app/voice/SpeechInputService.h"

#include <atomic>
#include <memory>

namespace zorvane::testing {

// Passes everything through, noting when the tap last saw a block with voice in it.
class VoiceWatchingInput : public AudioInput {
public:
    VoiceWatchingInput(std::shared_ptr<AudioInput> input, std::shared_ptr<Clock> clock)
        : input_(std::move(input)), clock_(std::move(clock))
    {
    }
    double lastVoice() const { return lastVoice_; }

    AudioFormat inputFormat() override { return input_->inputFormat(); }
    void installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block) override
    {
        input_->installTap(bufferSize, format, [this, block = std::move(block)](const AudioBuffer& buffer) {
            if (SpeechInputService::containsVoice(buffer, 0.012f)) lastVoice_ = clock_->now();
            block(buffer);
        });
    }
    void removeTap() override { input_->removeTap(); }
    void prepare() override { input_->prepare(); }
    void start() override { input_->start(); }
    bool isRunning() override { return input_->isRunning(); }
    void stop() override { input_->stop(); }
    void requestAccess(std::function<void()> completion) override { input_->requestAccess(std::move(completion)); }

private:
    std::shared_ptr<AudioInput> input_;
    std::shared_ptr<Clock> clock_;
    std::atomic<double> lastVoice_ = 0;
};

} // namespace zorvane::testing
