#pragma once

#include "app/platform/Permissions.h"
#include "app/platform/SpeechRecognizer.h"
#include "app/platform/Workspace.h"
#include "app/platform/linux/speech/PocketSphinxDecoder.h"
#include "app/platform/linux/speech/RecognitionEngine.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace zorvane::linux_platform {

struct SpeechRecognizerPlaces {
    std::filesystem::path modelsFolder; // one folder per language inside: es/, fr/ ...
    std::filesystem::path voskLibrary;
    PocketSphinxModel english;

    // Models under $XDG_DATA_HOME/zorvane/speech (~/.local/share when unset), the Vosk library in
    // the bundle's Contents/Frameworks, Debian's English model.
    static SpeechRecognizerPlaces standard(const std::filesystem::path& bundlePath);
};

// Offline recognisers chosen by language: pocketsphinx with Debian's model for English, Vosk with
// a model the user installs for every other language (and for English without pocketsphinx's).
// Also the speech-recognition half of the permissions: there is no prompt on this desktop; it is
// "authorized" exactly when the user's language has a usable recogniser. Callable from any thread.
class LinuxSpeechRecognizers : public SpeechRecognizers {
public:
    LinuxSpeechRecognizers(SpeechRecognizerPlaces places, std::shared_ptr<Workspace> workspace, std::string localeIdentifier);

    // Cheap: looks at files; the model is loaded off the main thread by the first recognition and
    // shared by every recogniser of the same model.
    std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string& localeIdentifier) override;
    // Creates the user's language folder for models and shows it in the file manager.
    void requestAuthorization(std::function<void()> completion) override;

    // authorized, or notDetermined while there is no usable recogniser (the request then shows
    // where a model goes).
    Permissions::Status authorizationStatus();
    // Why the user's language has no recogniser, in Spanish; none when it has one.
    std::optional<std::string> unavailableReason() override;
    // One sentence for the settings: where a model for the user's language goes.
    std::string modelInstructions() const;
    // Where a model for the locale's language goes.
    std::filesystem::path modelFolder(const std::string& localeIdentifier) const;
    // "es" for "es_ES", "es-MX" or "es_ES.UTF-8"; "en" for the C and POSIX locales.
    static std::string language(const std::string& localeIdentifier);

private:
    struct Choice {
        std::string engineKey;
        SpeechDecoderLoader loader;
        std::optional<std::string> reason;
    };
    Choice choose(const std::string& localeIdentifier); // with mutex_ held

    const SpeechRecognizerPlaces places_;
    const std::shared_ptr<Workspace> workspace_;
    const std::string localeIdentifier_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<RecognitionEngine>> engines_;
};

} // namespace zorvane::linux_platform
