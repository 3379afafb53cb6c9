#include "app/voice/SpeechInputService.h"

#include "app/core/LocalizedError.h"

#include <unicode/locid.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

namespace zorvane {

// Collects the changes of one operation, however deeply nested, and tells observers once at the end.
class SpeechInputService::ChangeScope {
public:
    explicit ChangeScope(SpeechInputService& service) : service_(service)
    {
        if (service_.changeDepth_++ == 0) {
            service_.listeningBeforeChange_ = service_.isListening_;
            service_.messageBeforeChange_ = service_.authorizationMessage_;
            service_.remedyBeforeChange_ = service_.remedy_;
        }
    }
    ~ChangeScope()
    {
        if (--service_.changeDepth_ != 0) return;
        if (service_.listeningBeforeChange_ != service_.isListening_
            || service_.messageBeforeChange_ != service_.authorizationMessage_
            || service_.remedyBeforeChange_ != service_.remedy_)
            service_.notifyObservers();
    }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

private:
    SpeechInputService& service_;
};

std::shared_ptr<SpeechInputService> SpeechInputService::create(std::shared_ptr<AudioInput> audioInput,
    std::shared_ptr<SpeechRecognizers> recognizers, std::shared_ptr<Permissions> permissions,
    std::shared_ptr<Clock> clock, std::shared_ptr<MainQueue> mainQueue, const std::optional<std::string>& localeIdentifier)
{
    const std::string locale = localeIdentifier ? *localeIdentifier : std::string(icu::Locale::getDefault().getName());
    return std::make_shared<SpeechInputService>(Token {}, std::move(audioInput), std::move(recognizers),
        std::move(permissions), std::move(clock), std::move(mainQueue), locale);
}

SpeechInputService::SpeechInputService(Token, std::shared_ptr<AudioInput> audioInput,
    std::shared_ptr<SpeechRecognizers> recognizers, std::shared_ptr<Permissions> permissions,
    std::shared_ptr<Clock> clock, std::shared_ptr<MainQueue> mainQueue, const std::string& localeIdentifier)
    : audioInput_(std::move(audioInput))
    , permissions_(std::move(permissions))
    , clock_(std::move(clock))
    , mainQueue_(std::move(mainQueue))
    , recognizers_(std::move(recognizers))
    , localeIdentifier_(localeIdentifier)
{
}

SpeechInputService::~SpeechInputService()
{
    // Nothing may keep capturing or recognising for a service that is gone.
    silenceMonitor_ = 0;
    stopAudio();
    if (request_) request_->endAudio();
    if (task_) task_->cancel();
}

SpeechInputService::ObserverToken SpeechInputService::addObserver(std::function<void()> observer)
{
    const ObserverToken token = nextObserver_++;
    observers_.emplace(token, std::make_shared<std::function<void()>>(std::move(observer)));
    return token;
}

void SpeechInputService::removeObserver(ObserverToken token)
{
    const auto it = observers_.find(token);
    if (it == observers_.end()) return;
    // Emptied as well as erased: a round of notification in progress holds it and skips it.
    *it->second = nullptr;
    observers_.erase(it);
}

void SpeechInputService::notifyObservers()
{
    // A copy, so that an observer may add or remove observers, or start and stop dictation.
    std::vector<std::shared_ptr<std::function<void()>>> observers;
    for (const auto& entry : observers_) observers.push_back(entry.second);
    for (const auto& observer : observers)
        if (*observer) (*observer)();
}

bool SpeechInputService::containsVoice(const AudioBuffer& buffer, float threshold)
{
    if (buffer.floatChannelData.empty()) return false;
    const std::vector<float>& samples = buffer.floatChannelData.front();
    const std::size_t frames = std::min<std::size_t>(buffer.frameLength, samples.size());
    if (frames == 0) return false;
    float sumOfSquares = 0;
    for (std::size_t i = 0; i < frames; ++i) sumOfSquares += samples[i] * samples[i];
    const float level = std::sqrt(sumOfSquares / static_cast<float>(frames));
    return threshold <= level;
}

void SpeechInputService::start(TranscriptHandler onTranscript)
{
    ChangeScope scope(*this);
    // Where the platform knows what is missing (no model for the language, no sound server), that
    // is more use to the user than pointing at the settings. Recognition is asked about first:
    // without it nothing else matters, and it is the bigger step to fix.
    const auto reasonOr = [](std::optional<std::string> reason, const char* fallback) {
        return reason && !reason->empty() ? std::move(*reason) : std::string(fallback);
    };
    if (!permissions_->isSpeechRecognitionAuthorized()) {
        recognizer_.reset(); // lets a model that went away leave memory
        fail(reasonOr(recognizers_ ? recognizers_->unavailableReason() : std::nullopt, permissionMessage), Remedy::speechRecognition);
        return;
    }
    if (!permissions_->isMicrophoneAuthorized()) {
        fail(reasonOr(audioInput_->unavailableReason(), permissionMessage), Remedy::microphone);
        return;
    }
    stop();
    authorizationMessage_.reset();
    remedy_ = Remedy::none;
    const std::uint64_t dictation = ++dictation_;
    recognizer_ = recognizers_ ? recognizers_->recognizerForLocale(localeIdentifier_) : nullptr;
    request_ = recognizer_ ? recognizer_->makeRequest(true) : nullptr;

    const AudioFormat format = audioInput_->inputFormat();
    if (!(format.sampleRate > 0)) {
        fail(reasonOr(audioInput_->unavailableReason(), noInputMessage), Remedy::microphone);
        return;
    }

    const auto failToCapture = [this] {
        std::string description = describe(std::current_exception());
        fail(description.empty() ? "No se pudo iniciar la entrada de audio." : std::move(description), Remedy::microphone);
        stop();
    };
    try {
        audioInput_->installTap(tapBufferSize, format, makeTap(dictation));
    } catch (...) {
        failToCapture();
        return;
    }
    hasInstalledTap_ = true;
    endpointer_.reset();
    try {
        audioInput_->prepare();
        audioInput_->start();
    } catch (...) {
        failToCapture();
        return;
    }
    isListening_ = true;
    startSilenceMonitor();
    if (recognizer_) task_ = recognizer_->recognitionTask(request_, makeResultHandler(dictation, std::move(onTranscript)));
}

AudioInput::TapBlock SpeechInputService::makeTap(std::uint64_t dictation)
{
    // Runs on the audio thread: it touches only what it captured, never the service itself.
    return [weak = weak_from_this(), mainQueue = mainQueue_, request = request_, threshold = voiceThreshold,
               dictation](const AudioBuffer& buffer) {
        if (request) request->append(buffer);
        if (!containsVoice(buffer, threshold)) return;
        mainQueue->post([weak, dictation] {
            if (const auto self = weak.lock()) self->handleVoice(dictation);
        });
    };
}

void SpeechInputService::handleVoice(std::uint64_t dictation)
{
    // The time is taken here, when the update runs, not when the block was captured.
    if (dictation == dictation_ && isListening_) endpointer_.registerVoice(clock_->now());
}

SpeechRecognizer::ResultHandler SpeechInputService::makeResultHandler(std::uint64_t dictation, TranscriptHandler onTranscript)
{
    return [weak = weak_from_this(), mainQueue = mainQueue_, dictation, onTranscript = std::move(onTranscript)](
               const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error) {
        mainQueue->post([weak, dictation, onTranscript, result, error] {
            if (const auto self = weak.lock()) self->handleRecognition(dictation, onTranscript, result, error);
        });
    };
}

void SpeechInputService::handleRecognition(std::uint64_t dictation, const TranscriptHandler& onTranscript,
    const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
{
    // A task that was cancelled, superseded or abandoned has no say any more: its text would
    // overwrite the newer question, its end would end the newer dictation.
    const auto isCurrent = [&] { return dictation == dictation_ && task_ != nullptr; };
    if (!isCurrent()) return;
    ChangeScope scope(*this);
    if (result && onTranscript) onTranscript(result->bestTranscription);
    if (!error && (!result || !result->isFinal)) return;
    // A recogniser that fails (a model that does not load, say) is a failure the user must see,
    // or the button seems to do nothing. The question keeps the text it had.
    if (error) fail(error->empty() ? "El reconocimiento de voz falló." : *error, Remedy::none);
    // The callback may itself have stopped or restarted dictation.
    if (isCurrent()) finishRecognition();
}

void SpeechInputService::startSilenceMonitor()
{
    silenceMonitor_ = ++nextSilenceMonitor_;
    scheduleSilenceCheck(silenceMonitor_);
}

void SpeechInputService::scheduleSilenceCheck(std::uint64_t monitor)
{
    mainQueue_->postAfter(silenceCheckInterval, [weak = weak_from_this(), monitor] {
        if (const auto self = weak.lock()) self->checkSilence(monitor);
    });
}

void SpeechInputService::checkSilence(std::uint64_t monitor)
{
    if (monitor != silenceMonitor_ || !isListening_) return;
    if (endpointer_.shouldFinish(clock_->now())) {
        ChangeScope scope(*this);
        finishAfterSilence();
        return;
    }
    scheduleSilenceCheck(monitor);
}

void SpeechInputService::finishAfterSilence()
{
    silenceMonitor_ = 0;
    stopAudio();
    // The request and task stay, so that the recogniser can still deliver its final text.
    if (request_) request_->endAudio();
    isListening_ = false;
    endpointer_.reset();
    mainQueue_->postAfter(finalResultGrace, [weak = weak_from_this(), dictation = dictation_] {
        if (const auto self = weak.lock()) self->handleGraceExpired(dictation);
    });
}

void SpeechInputService::handleGraceExpired(std::uint64_t dictation)
{
    if (dictation != dictation_) return; // a newer dictation is running; leave it alone
    ChangeScope scope(*this);
    finishRecognition();
}

void SpeechInputService::finishRecognition()
{
    silenceMonitor_ = 0;
    stopAudio();
    request_.reset();
    task_.reset();
    isListening_ = false;
    endpointer_.reset();
}

void SpeechInputService::stop()
{
    ChangeScope scope(*this);
    silenceMonitor_ = 0;
    stopAudio();
    if (request_) request_->endAudio();
    if (task_) task_->cancel();
    request_.reset();
    task_.reset();
    isListening_ = false;
    endpointer_.reset();
}

void SpeechInputService::refuse(std::string message, Remedy remedy)
{
    ChangeScope scope(*this);
    fail(std::move(message), remedy);
}

void SpeechInputService::fail(std::string message, Remedy remedy)
{
    authorizationMessage_ = std::move(message);
    remedy_ = remedy;
}

void SpeechInputService::stopAudio()
{
    if (audioInput_->isRunning()) audioInput_->stop();
    if (hasInstalledTap_) {
        audioInput_->removeTap();
        hasInstalledTap_ = false;
    }
}

void SpeechInputService::requestMicrophonePermission(std::function<void()> completion)
{
    audioInput_->requestAccess([weak = weak_from_this(), mainQueue = mainQueue_, completion = std::move(completion)] {
        mainQueue->post([weak, completion] {
            if (weak.lock() && completion) completion();
        });
    });
}

void SpeechInputService::requestSpeechRecognitionPermission(std::function<void()> completion)
{
    const auto answered = [weak = weak_from_this(), mainQueue = mainQueue_, completion = std::move(completion)] {
        mainQueue->post([weak, completion] {
            if (weak.lock() && completion) completion();
        });
    };
    // Without any recogniser there is nothing to ask; the caller still hears back.
    if (recognizers_)
        recognizers_->requestAuthorization(answered);
    else
        answered();
}

} // namespace zorvane
