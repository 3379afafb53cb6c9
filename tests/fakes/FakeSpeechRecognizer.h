#pragma once

#include "app/platform/SpeechRecognizer.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::fakes {

// Counts what it is fed; thread-safe, as the audio thread appends.
class FakeSpeechRecognitionRequest : public SpeechRecognitionRequest {
public:
    explicit FakeSpeechRecognitionRequest(bool reportsPartialResults) : reportsPartialResults_(reportsPartialResults) {}
    void append(const AudioBuffer&) override { blocks_ += ended_ ? 0 : 1; }
    void endAudio() override { ended_ = true; }

    bool reportsPartialResults() const { return reportsPartialResults_; }
    std::size_t appendedBlockCount() const { return blocks_; }
    bool hasEndedAudio() const { return ended_; }

private:
    const bool reportsPartialResults_;
    std::atomic<std::size_t> blocks_ = 0;
    std::atomic<bool> ended_ = false;
};

// The test speaks for the recogniser through report*(), on whatever thread it likes.
class FakeSpeechRecognitionTask : public SpeechRecognitionTask {
public:
    explicit FakeSpeechRecognitionTask(SpeechRecognizer::ResultHandler handler) : handler_(std::move(handler)) {}
    void cancel() override { cancelled_ = true; }
    bool isCancelled() const { return cancelled_; }

    void reportPartial(const std::string& text) { report(SpeechRecognitionResult {text, false}, std::nullopt); }
    void reportFinal(const std::string& text) { report(SpeechRecognitionResult {text, true}, std::nullopt); }
    void reportError(const std::string& error) { report(std::nullopt, error); }
    void report(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
    {
        if (handler_) handler_(result, error);
    }
    // The same report made from a separate thread, as platform recognisers do.
    void reportOnOtherThread(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error);

private:
    const SpeechRecognizer::ResultHandler handler_;
    std::atomic<bool> cancelled_ = false;
};

class FakeSpeechRecognizer : public SpeechRecognizer {
    template <typename F>
    auto locked(F f) const
    {
        std::lock_guard lock(mutex_);
        return f();
    }

public:
    std::shared_ptr<SpeechRecognitionRequest> makeRequest(bool shouldReportPartialResults) override
    {
        auto request = std::make_shared<FakeSpeechRecognitionRequest>(shouldReportPartialResults);
        return locked([&] { return requests_.emplace_back(std::move(request)); });
    }
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(
        std::shared_ptr<SpeechRecognitionRequest>, ResultHandler resultHandler) override
    {
        auto task = std::make_shared<FakeSpeechRecognitionTask>(std::move(resultHandler));
        return locked([&] { return tasks_.emplace_back(std::move(task)); });
    }

    std::vector<std::shared_ptr<FakeSpeechRecognitionRequest>> requests() const { return locked([&] { return requests_; }); }
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks() const { return locked([&] { return tasks_; }); }

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeSpeechRecognitionRequest>> requests_;
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks_;
};

// Recognisers for the locales the test installs; none for the others.
class FakeSpeechRecognizers : public SpeechRecognizers {
    template <typename F>
    auto locked(F f) const
    {
        std::lock_guard lock(mutex_);
        return f();
    }

public:
    std::shared_ptr<FakeSpeechRecognizer> install(const std::string& localeIdentifier)
    {
        return locked([&] { return recognizers_[localeIdentifier] = std::make_shared<FakeSpeechRecognizer>(); });
    }
    std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string& localeIdentifier) override
    {
        return locked([&] {
            const auto it = recognizers_.find(localeIdentifier);
            return it == recognizers_.end() ? nullptr : it->second;
        });
    }
    void requestAuthorization(std::function<void()> completion) override
    {
        locked([&] { authorizationRequests_.push_back(std::move(completion)); });
    }

    std::optional<std::string> unavailableReason() override { return locked([&] { return reason_; }); }
    void setUnavailableReason(std::optional<std::string> reason) { locked([&] { reason_ = std::move(reason); }); }

    std::size_t pendingAuthorizationRequestCount() const { return locked([&] { return authorizationRequests_.size(); }); }
    // Answers every pending request from a separate thread, as the platform would.
    void answerAuthorizationRequests();

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<FakeSpeechRecognizer>> recognizers_;
    std::vector<std::function<void()>> authorizationRequests_;
    std::optional<std::string> reason_;
};

} // namespace zorvane::fakes
