#include "fakes/FakeSpeechRecognizer.h"

#include <thread>
#include <utility>

namespace zorvane::fakes {

void FakeSpeechRecognitionTask::reportOnOtherThread(
    const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
{
    std::thread([&] { report(result, error); }).join();
}

void FakeSpeechRecognizers::answerAuthorizationRequests()
{
    const auto requests = locked([&] { return std::exchange(authorizationRequests_, {}); });
    std::thread([&] {
        for (const auto& completion : requests)
            if (completion) completion();
    }).join();
}

} // namespace zorvane::fakes
