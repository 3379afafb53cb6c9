#pragma once

#include "app/platform/SpeechRecognizer.h"
#include "fakes/FakeAudioInput.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zorvane::fakes {

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
        std::lock_guard lock(mutex_);
        return tasks_.emplace_back(std::move(task));
    }
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks() const
    {
        std::lock_guard lock(mutex_);
        return tasks_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks_;
};

// Recognisers for the locales the test installs (before the service is made); none for others.
class FakeSpeechRecognizers : public SpeechRecognizers {
public:
    std::optional<std::string> reason; // why there is none, as the platform says

    std::shared_ptr<FakeSpeechRecognizer> install(const std::string& locale)
    {
        return recognizers_[locale] = std::make_shared<FakeSpeechRecognizer>();
    }
    std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string& locale) override
    {
        const auto found = recognizers_.find(locale);
        return found == recognizers_.end() ? nullptr : found->second;
    }
    void requestAuthorization(std::function<void()> completion) override { requests_.add(std::move(completion)); }
    std::optional<std::string> unavailableReason() override { return reason; }

    std::size_t pendingAuthorizationRequestCount() const { return requests_.count(); }
    void answerAuthorizationRequests() { requests_.answerAll(); }

private:
    std::map<std::string, std::shared_ptr<FakeSpeechRecognizer>> recognizers_;
    PendingAnswers requests_;
};

} // namespace zorvane::fakes
