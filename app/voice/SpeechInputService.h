#pragma once

#include "app/platform/AudioInput.h"
#include "app/platform/Clock.h"
#include "app/platform/MainQueue.h"
#include "app/platform/Permissions.h"
#include "app/platform/SpeechRecognizer.h"
#include "app/voice/VoiceActivityEndpointer.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// Dictation: captures the default input, streams it to the recogniser, hands every transcription
// to a callback and ends by itself once the speaker falls silent. Lives on the main thread; work
// from the audio and recogniser threads is brought there first. Owned through a shared_ptr.
class SpeechInputService : public std::enable_shared_from_this<SpeechInputService> {
public:
    using TranscriptHandler = std::function<void(const std::string& transcript)>;
    using ObserverToken = std::uint64_t;

    // What fixes the failure in authorizationMessage, for the view that offers it.
    enum class Remedy {
        none,
        microphone,        // the microphone: its permission, or the sound settings where there is none
        speechRecognition, // a recogniser: its permission, or a speech model for the language
        enableDictation,   // the dictation setting is off
    };

    static constexpr const char* permissionMessage = "Activa Micrófono y Reconocimiento de voz en Ajustes del Sistema.";
    static constexpr const char* noInputMessage = "No hay una entrada de audio disponible.";
    static constexpr std::uint32_t tapBufferSize = 1024; // frames
    static constexpr double silenceTimeout = 1.15; // seconds of silence after voice that end a dictation
    static constexpr double silenceCheckInterval = 0.15;
    static constexpr double finalResultGrace = 1.0; // how long a final text may take once audio has ended

    // `localeIdentifier` is the language dictated, for the life of the service ("es_ES"; by
    // default the process's locale).
    static std::shared_ptr<SpeechInputService> create(std::shared_ptr<AudioInput> audioInput,
        std::shared_ptr<SpeechRecognizers> recognizers, std::shared_ptr<Permissions> permissions,
        std::shared_ptr<Clock> clock, std::shared_ptr<MainQueue> mainQueue,
        const std::optional<std::string>& localeIdentifier = std::nullopt);

    SpeechInputService(const SpeechInputService&) = delete;
    SpeechInputService& operator=(const SpeechInputService&) = delete;
    ~SpeechInputService();

    // True from the start of audio capture until the dictation ends or is stopped.
    bool isListening() const { return isListening_; }
    // Why the last start attempt could not capture audio; cleared by the next attempt that has permission.
    const std::optional<std::string>& authorizationMessage() const { return authorizationMessage_; }
    Remedy remedy() const { return remedy_; }
    bool hasRecognizer() const { return recognizer_ != nullptr; }

    // Observers run on the main thread after isListening, authorizationMessage or remedy has changed.
    ObserverToken addObserver(std::function<void()> observer);
    void removeObserver(ObserverToken token);

    // Begins a dictation, replacing any running one. `onTranscript` receives the whole current
    // text each time the recogniser reports, on the main thread. Failures land in authorizationMessage.
    void start(TranscriptHandler onTranscript);
    // Ends the current dictation at once and discards its recognition. Harmless when idle.
    void stop();
    // A start refused before it reached the service (dictation switched off), shown like the
    // service's own refusals until the next attempt. A running dictation goes on.
    void refuse(std::string message, Remedy remedy);

    // Ask the user for access; `completion` runs on the main thread once answered (re-read Permissions).
    void requestMicrophonePermission(std::function<void()> completion);
    void requestSpeechRecognitionPermission(std::function<void()> completion);

    // Whether a block holds voice: the RMS level of its first channel is at least `threshold`.
    static bool containsVoice(const AudioBuffer& buffer, float threshold);

    // RMS level at or above which a block holds voice (full scale 1.0).
    const float voiceThreshold = 0.012f;

private:
    struct Token {
        explicit Token() = default;
    };
    class ChangeScope;

public:
    SpeechInputService(Token, std::shared_ptr<AudioInput> audioInput, std::shared_ptr<SpeechRecognizers> recognizers,
        std::shared_ptr<Permissions> permissions, std::shared_ptr<Clock> clock, std::shared_ptr<MainQueue> mainQueue,
        const std::string& localeIdentifier);

private:
    AudioInput::TapBlock makeTap(std::uint64_t dictation);
    SpeechRecognizer::ResultHandler makeResultHandler(std::uint64_t dictation, TranscriptHandler onTranscript);
    void handleVoice(std::uint64_t dictation);
    void handleRecognition(std::uint64_t dictation, const TranscriptHandler& onTranscript,
        const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error);

    void startSilenceMonitor();
    void scheduleSilenceCheck(std::uint64_t monitor);
    void checkSilence(std::uint64_t monitor);
    void finishAfterSilence();
    void handleGraceExpired(std::uint64_t dictation);
    void finishRecognition();
    void stopAudio();
    void notifyObservers();
    void fail(std::string message, Remedy remedy);

    std::shared_ptr<AudioInput> audioInput_;
    std::shared_ptr<Permissions> permissions_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<SpeechRecognizers> recognizers_;
    const std::string localeIdentifier_;
    // Looked up again at every start, so that a model installed meanwhile is used at once; none
    // when the locale has no recogniser.
    std::shared_ptr<SpeechRecognizer> recognizer_;

    bool isListening_ = false;
    std::optional<std::string> authorizationMessage_;
    Remedy remedy_ = Remedy::none;
    std::shared_ptr<SpeechRecognitionRequest> request_;
    std::shared_ptr<SpeechRecognitionTask> task_;
    bool hasInstalledTap_ = false;
    VoiceActivityEndpointer endpointer_ {silenceTimeout, std::nullopt};

    // Every start gets a new number; audio, results and the grace period carry the number of the
    // dictation they belong to, so nothing late from an earlier one can touch a newer one.
    std::uint64_t dictation_ = 0;
    std::uint64_t silenceMonitor_ = 0; // 0: none running
    std::uint64_t nextSilenceMonitor_ = 0;

    std::map<ObserverToken, std::shared_ptr<std::function<void()>>> observers_;
    ObserverToken nextObserver_ = 1;
    int changeDepth_ = 0;
    bool listeningBeforeChange_ = false;
    std::optional<std::string> messageBeforeChange_;
    Remedy remedyBeforeChange_ = Remedy::none;
};

} // namespace zorvane
