#pragma once

#include "app/platform/SpeechRecognizer.h"

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
    void append(const AudioBuffer& buffer) override;
    void endAudio() override;

    bool reportsPartialResults() const { return reportsPartialResults_; }
    std::size_t appendedBlockCount() const;
    bool hasEndedAudio() const;

private:
    const bool reportsPartialResults_;
    mutable std::mutex mutex_;
    std::size_t blocks_ = 0;
    bool ended_ = false;
};

// The test speaks for the recogniser through report*(), on whatever thread it likes.
class FakeSpeechRecognitionTask : public SpeechRecognitionTask {
public:
    FakeSpeechRecognitionTask(std::shared_ptr<SpeechRecognitionRequest> request, SpeechRecognizer::ResultHandler handler)
        : request_(std::move(request)), handler_(std::move(handler))
    {
    }
    void cancel() override;

    bool isCancelled() const;
    std::shared_ptr<SpeechRecognitionRequest> request() const { return request_; }

    void reportPartial(const std::string& text) { report(SpeechRecognitionResult {text, false}, std::nullopt); }
    void reportFinal(const std::string& text) { report(SpeechRecognitionResult {text, true}, std::nullopt); }
    void reportError(const std::string& error) { report(std::nullopt, error); }
    void report(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error);
    // The same report made from a separate thread, as platform recognisers do.
    void reportOnOtherThread(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error);

private:
    std::shared_ptr<SpeechRecognitionRequest> request_;
    SpeechRecognizer::ResultHandler handler_;
    mutable std::mutex mutex_;
    bool cancelled_ = false;
};

class FakeSpeechRecognizer : public SpeechRecognizer {
public:
    std::shared_ptr<SpeechRecognitionRequest> makeRequest(bool shouldReportPartialResults) override;
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(
        std::shared_ptr<SpeechRecognitionRequest> request, ResultHandler resultHandler) override;

    std::vector<std::shared_ptr<FakeSpeechRecognitionRequest>> requests() const;
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks() const;
    // The most recent task, or null before the first.
    std::shared_ptr<FakeSpeechRecognitionTask> lastTask() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeSpeechRecognitionRequest>> requests_;
    std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> tasks_;
};

// Recognisers for the locales the test installs; none for the others.
class FakeSpeechRecognizers : public SpeechRecognizers {
public:
    std::shared_ptr<FakeSpeechRecognizer> install(const std::string& localeIdentifier);

    std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string& localeIdentifier) override;
    void requestAuthorization(std::function<void()> completion) override;

    std::vector<std::string> requestedLocales() const;
    std::size_t pendingAuthorizationRequestCount() const;
    // Answers every pending request from a separate thread, as the platform would.
    void answerAuthorizationRequests();

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<FakeSpeechRecognizer>> recognizers_;
    std::vector<std::string> requestedLocales_;
    std::vector<std::function<void()>> authorizationRequests_;
};

} // namespace zorvane::fakes
