#pragma once

// Audio and speech recognition driven by the test: blocks it hands to the tap, texts it speaks for
// the recogniser, and permission prompts it answers from another thread, as the platform would.

#include "app/platform/AudioInput.h"
#include "app/platform/SpeechRecognizer.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zorvane::fakes {

// Completions of permission prompts, held until the test answers them from another thread, as
// the platform would.
class PendingAnswers {
public:
    void add(std::function<void()> completion) { pending_.push_back(std::move(completion)); }
    std::size_t count() const { return pending_.size(); }
    void answerAll()
    {
        std::thread([answers = std::exchange(pending_, {})] {
            for (const auto& answer : answers) answer();
        }).join();
    }

private:
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
    std::optional<std::string> reason; // why there is no usable input, as the sound server says

    AudioFormat inputFormat() override { return format; }
    std::optional<std::string> unavailableReason() override { return reason; }
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
    void requestAccess(std::function<void()> completion) override { accessRequests.add(std::move(completion)); }

    // Hands one block to the tap, if one is installed and capture runs; whether it did.
    bool deliver(const AudioBuffer& buffer)
    {
        if (running && tap) tap(buffer);
        return running && tap;
    }

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

    PendingAnswers accessRequests;
};

// One recognition: the request the audio thread feeds and the task the test speaks for, through
// report*() on whatever thread it likes.
class FakeSpeechRecognitionTask : public SpeechRecognitionRequest, public SpeechRecognitionTask {
public:
    void append(const AudioBuffer&) override {}
    void endAudio() override { ended = true; }
    void cancel() override { cancelled = true; }

    void report(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
    {
        handler(result, error);
    }
    void reportPartial(const std::string& text) { report(SpeechRecognitionResult {text, false}, std::nullopt); }
    void reportFinal(const std::string& text) { report(SpeechRecognitionResult {text, true}, std::nullopt); }
    // As platform recognisers do.
    void reportOnOtherThread(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
    {
        std::thread([&] { report(result, error); }).join();
    }

    std::atomic<bool> ended = false, cancelled = false;
    SpeechRecognizer::ResultHandler handler; // set when the task starts
};

class FakeSpeechRecognizer : public SpeechRecognizer {
public:
    std::shared_ptr<SpeechRecognitionRequest> makeRequest(bool) override { return std::make_shared<FakeSpeechRecognitionTask>(); }
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechRecognitionRequest> request,
                                                           ResultHandler handler) override
    {
        auto task = std::dynamic_pointer_cast<FakeSpeechRecognitionTask>(request);
        task->handler = std::move(handler);
        return tasks.emplace_back(std::move(task));
    }

    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks; // every one started, in order
};

// The recogniser the test installs for one locale (the service asks at every start); none for others.
class FakeSpeechRecognizers : public SpeechRecognizers {
public:
    std::optional<std::string> reason; // why there is none, as the platform says
    PendingAnswers authorizationRequests;

    std::shared_ptr<FakeSpeechRecognizer> install(const std::string& locale)
    {
        locale_ = locale;
        return recognizer_ = std::make_shared<FakeSpeechRecognizer>();
    }
    std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string& locale) override
    {
        return locale == locale_ ? recognizer_ : nullptr;
    }
    void requestAuthorization(std::function<void()> completion) override { authorizationRequests.add(std::move(completion)); }
    std::optional<std::string> unavailableReason() override { return reason; }

private:
    std::string locale_;
    std::shared_ptr<FakeSpeechRecognizer> recognizer_;
};

} // namespace zorvane::fakes
