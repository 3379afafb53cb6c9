#pragma once

#include "app/platform/AudioInput.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// A recognition request fed with audio blocks as they are captured. append is called on the audio
// thread, endAudio on the main thread; both must be safe together. Blocks appended before a task is
// started on the request are kept for it; blocks after endAudio are ignored.
class SpeechRecognitionRequest {
public:
    virtual ~SpeechRecognitionRequest() = default;
    virtual void append(const AudioBuffer& buffer) = 0;
    // No more audio will come: the recogniser should settle on its final text.
    virtual void endAudio() = 0;
};

// The recognition running on a request.
class SpeechRecognitionTask {
public:
    virtual ~SpeechRecognitionTask() = default;
    // Gives up at once; the task may still report once more afterwards.
    virtual void cancel() = 0;
};

struct SpeechRecognitionResult {
    std::string bestTranscription; // the whole text so far, not an increment
    bool isFinal = false;
};

// A streaming recogniser for one locale.
class SpeechRecognizer {
public:
    // A result, an error text, or both; called on any thread, possibly after the task was cancelled.
    using ResultHandler =
        std::function<void(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)>;

    virtual ~SpeechRecognizer() = default;
    virtual std::shared_ptr<SpeechRecognitionRequest> makeRequest(bool shouldReportPartialResults) = 0;
    // Starts recognising the request's audio; null when the recogniser cannot start a task now.
    virtual std::shared_ptr<SpeechRecognitionTask> recognitionTask(
        std::shared_ptr<SpeechRecognitionRequest> request, ResultHandler resultHandler) = 0;
};

// Where recognisers come from: a platform may have one for some locales and none for others.
class SpeechRecognizers {
public:
    virtual ~SpeechRecognizers() = default;
    // The recogniser for a locale such as "es_ES", or null when there is none.
    virtual std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string& localeIdentifier) = 0;
    // Asks the user to allow speech recognition if the platform has such a prompt. `completion` runs
    // once the user has answered, on any thread; the answer is read back from Permissions.
    virtual void requestAuthorization(std::function<void()> completion) = 0;
    // Why there is no recogniser for the user's locale, in Spanish for the user (no model installed
    // for the language, a missing library, a damaged model); none when there is one or the platform
    // has no reason to give.
    virtual std::optional<std::string> unavailableReason() { return std::nullopt; }
};

} // namespace zorvane
