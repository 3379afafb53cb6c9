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
#include <set>
#include <string>

namespace zorvane::linux_platform {

struct SpeechRecognizerPlaces {
    std::filesystem::path modelsFolder; // one folder per language inside: es/, fr/ ...
    std::filesystem::path voskLibrary;
    PocketSphinxModel english;
    std::set<std::string> downloadable; // languages whose model Zorvane downloads itself

    // Models under $XDG_DATA_HOME/zorvane/speech (~/.local/share when unset), the Vosk library in
    // the bundle's Contents/Frameworks, Debian's English model, the official models' languages.
    static SpeechRecognizerPlaces standard(const std::filesystem::path& bundlePath);
};

// Offline recognisers chosen by language: Vosk with a model installed for the language (downloaded
// by Zorvane or unpacked by hand), and for English without one pocketsphinx with Debian's model.
// Also the speech-recognition half of the permissions: there is no prompt on this desktop; it is
// "authorized" exactly when the user's language has a usable recogniser. Callable from any thread;
// nothing here loads a library or a model on the caller's thread.
class LinuxSpeechRecognizers : public SpeechRecognizers {
public:
    LinuxSpeechRecognizers(SpeechRecognizerPlaces places, std::shared_ptr<Workspace> workspace, std::string localeIdentifier);

    // Cheap: looks at files; the model is loaded off the main thread by the first recognition and
    // shared by every recogniser of the same model. A model installed, replaced or removed since
    // the last call is seen at once.
    std::shared_ptr<SpeechRecognizer> recognizerForLocale(const std::string& localeIdentifier) override;
    // Downloads the user's language's model where the installer can (see setModelInstaller);
    // otherwise creates the folder for models and shows it in the file manager.
    void requestAuthorization(std::function<void()> completion) override;
    // Starts installing a model for the user's language; returns whether it did. Main thread.
    void setModelInstaller(std::function<bool()> installer);

    struct EngineInUse {
        std::string engine; // "Vosk", "pocketsphinx"
        std::string model;  // the model's folder name, or a description of Debian's
    };
    // What the user's language is recognised with now; none when nothing (unavailableReason says why).
    std::optional<EngineInUse> engineInUse();

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
    // The language's name in Spanish, as in a sentence: "español", "inglés".
    static std::string languageName(const std::string& language);

private:
    struct Choice {
        std::string engineKey;
        EngineInUse inUse;
        SpeechDecoderLoader loader;
        std::optional<std::string> reason;
    };
    Choice choose(const std::string& localeIdentifier); // with mutex_ held

    const SpeechRecognizerPlaces places_;
    const std::shared_ptr<Workspace> workspace_;
    const std::string localeIdentifier_;
    std::mutex mutex_;
    // One engine per language, for the model chosen last: a model replaced or removed lets its
    // engine (and the memory of its model) go once no recogniser uses it.
    struct Engine {
        std::string key;
        std::shared_ptr<RecognitionEngine> engine;
    };
    std::map<std::string, Engine> engines_;
    std::function<bool()> installModel_;
};

} // namespace zorvane::linux_platform
