#include "fakes/FakeSpeechRecognizer.h"

#include <thread>

namespace zorvane::fakes {

void FakeSpeechRecognitionRequest::append(const AudioBuffer&)
{
    std::lock_guard lock(mutex_);
    if (!ended_) ++blocks_;
}

void FakeSpeechRecognitionRequest::endAudio()
{
    std::lock_guard lock(mutex_);
    ended_ = true;
}

std::size_t FakeSpeechRecognitionRequest::appendedBlockCount() const
{
    std::lock_guard lock(mutex_);
    return blocks_;
}

bool FakeSpeechRecognitionRequest::hasEndedAudio() const
{
    std::lock_guard lock(mutex_);
    return ended_;
}

void FakeSpeechRecognitionTask::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
}

bool FakeSpeechRecognitionTask::isCancelled() const
{
    std::lock_guard lock(mutex_);
    return cancelled_;
}

void FakeSpeechRecognitionTask::report(
    const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
{
    if (handler_) handler_(result, error);
}

void FakeSpeechRecognitionTask::reportOnOtherThread(
    const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
{
    std::thread recogniser([&] { report(result, error); });
    recogniser.join();
}

std::shared_ptr<SpeechRecognitionRequest> FakeSpeechRecognizer::makeRequest(bool shouldReportPartialResults)
{
    auto request = std::make_shared<FakeSpeechRecognitionRequest>(shouldReportPartialResults);
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    return request;
}

std::shared_ptr<SpeechRecognitionTask> FakeSpeechRecognizer::recognitionTask(
    std::shared_ptr<SpeechRecognitionRequest> request, ResultHandler resultHandler)
{
    auto task = std::make_shared<FakeSpeechRecognitionTask>(std::move(request), std::move(resultHandler));
    std::lock_guard lock(mutex_);
    tasks_.push_back(task);
    return task;
}

std::vector<std::shared_ptr<FakeSpeechRecognitionRequest>> FakeSpeechRecognizer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::shared_ptr<FakeSpeechRecognitionTask>> FakeSpeechRecognizer::tasks() const
{
    std::lock_guard lock(mutex_);
    return tasks_;
}

std::shared_ptr<FakeSpeechRecognitionTask> FakeSpeechRecognizer::lastTask() const
{
    std::lock_guard lock(mutex_);
    return tasks_.empty() ? nullptr : tasks_.back();
}

std::shared_ptr<FakeSpeechRecognizer> FakeSpeechRecognizers::install(const std::string& localeIdentifier)
{
    auto recognizer = std::make_shared<FakeSpeechRecognizer>();
    std::lock_guard lock(mutex_);
    recognizers_[localeIdentifier] = recognizer;
    return recognizer;
}

std::shared_ptr<SpeechRecognizer> FakeSpeechRecognizers::recognizerForLocale(const std::string& localeIdentifier)
{
    std::lock_guard lock(mutex_);
    requestedLocales_.push_back(localeIdentifier);
    const auto it = recognizers_.find(localeIdentifier);
    return it == recognizers_.end() ? nullptr : it->second;
}

void FakeSpeechRecognizers::requestAuthorization(std::function<void()> completion)
{
    std::lock_guard lock(mutex_);
    authorizationRequests_.push_back(std::move(completion));
}

std::vector<std::string> FakeSpeechRecognizers::requestedLocales() const
{
    std::lock_guard lock(mutex_);
    return requestedLocales_;
}

std::size_t FakeSpeechRecognizers::pendingAuthorizationRequestCount() const
{
    std::lock_guard lock(mutex_);
    return authorizationRequests_.size();
}

void FakeSpeechRecognizers::answerAuthorizationRequests()
{
    std::vector<std::function<void()>> requests;
    {
        std::lock_guard lock(mutex_);
        requests.swap(authorizationRequests_);
    }
    std::thread platform([&] {
        for (const auto& completion : requests)
            if (completion) completion();
    });
    platform.join();
}

} // namespace zorvane::fakes
