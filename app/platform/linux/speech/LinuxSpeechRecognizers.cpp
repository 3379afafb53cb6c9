#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"

#include "app/platform/linux/speech/VoskRecognizer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zorvane::linux_platform {

namespace fs = std::filesystem;

SpeechRecognizerPlaces SpeechRecognizerPlaces::standard(const fs::path& bundlePath)
{
    fs::path dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && fs::path(xdg).is_absolute()) dataHome = xdg;
    else if (const char* home = std::getenv("HOME")) dataHome = fs::path(home) / ".local" / "share";
    SpeechRecognizerPlaces places;
    places.modelsFolder = dataHome / "zorvane" / "speech";
    places.voskLibrary = bundlePath / "Contents" / "Frameworks" / "libvosk.so";
    return places;
}

LinuxSpeechRecognizers::LinuxSpeechRecognizers(
    SpeechRecognizerPlaces places, std::shared_ptr<Workspace> workspace, std::string localeIdentifier)
    : places_(std::move(places))
    , workspace_(std::move(workspace))
    , localeIdentifier_(std::move(localeIdentifier))
{
}

std::string LinuxSpeechRecognizers::language(const std::string& localeIdentifier)
{
    std::string language = localeIdentifier.substr(0, localeIdentifier.find_first_of("_-.@"));
    std::transform(language.begin(), language.end(), language.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (language.empty() || language == "c" || language == "posix") return "en";
    return language;
}

fs::path LinuxSpeechRecognizers::modelFolder(const std::string& localeIdentifier) const
{
    return places_.modelsFolder / language(localeIdentifier);
}

std::string LinuxSpeechRecognizers::modelInstructions() const
{
    return "Para dictar, descarga un modelo de Vosk de tu idioma (alphacephei.com/vosk/models) y descomprímelo en "
        + modelFolder(localeIdentifier_).string() + ".";
}

LinuxSpeechRecognizers::Choice LinuxSpeechRecognizers::choose(const std::string& localeIdentifier)
{
    Choice choice;
    if (language(localeIdentifier) == "en" && places_.english.isInstalled()) {
        choice.engineKey = "pocketsphinx";
        choice.loader = [model = places_.english] { return loadPocketSphinx(model); };
    } else {
        std::error_code error;
        if (!fs::is_regular_file(places_.voskLibrary, error)) {
            choice.reason = Vosk::checkLibrary(places_.voskLibrary);
            return choice;
        }
        const Vosk::ModelLookup lookup = Vosk::findModel(modelFolder(localeIdentifier));
        if (!lookup.model) {
            choice.reason = lookup.reason;
            return choice;
        }
        if (auto reason = Vosk::checkLibrary(places_.voskLibrary)) {
            choice.reason = std::move(reason);
            return choice;
        }
        // A model replaced in place is a new model: its own engine, its own chance to load.
        const auto changed = fs::last_write_time(*lookup.model / "am" / "final.mdl", error);
        choice.engineKey = "vosk:" + lookup.model->string() + ":" + std::to_string(changed.time_since_epoch().count());
        choice.loader = [library = places_.voskLibrary, model = *lookup.model] { return Vosk::load(library, model); };
    }
    if (const auto it = engines_.find(choice.engineKey); it != engines_.end()) choice.reason = it->second->failure();
    return choice;
}

std::shared_ptr<SpeechRecognizer> LinuxSpeechRecognizers::recognizerForLocale(const std::string& localeIdentifier)
{
    std::lock_guard lock(mutex_);
    Choice choice = choose(localeIdentifier);
    if (choice.reason) return nullptr;
    auto& engine = engines_[choice.engineKey];
    if (!engine) engine = std::make_shared<RecognitionEngine>(std::move(choice.loader));
    return std::make_shared<EngineSpeechRecognizer>(engine);
}

void LinuxSpeechRecognizers::requestAuthorization(std::function<void()> completion)
{
    const fs::path folder = modelFolder(localeIdentifier_);
    std::error_code error;
    fs::create_directories(folder, error);
    if (!error && workspace_) workspace_->revealFile(folder);
    if (completion) completion();
}

Permissions::Status LinuxSpeechRecognizers::authorizationStatus()
{
    return unavailableReason() ? Permissions::Status::notDetermined : Permissions::Status::authorized;
}

std::optional<std::string> LinuxSpeechRecognizers::unavailableReason()
{
    std::lock_guard lock(mutex_);
    return choose(localeIdentifier_).reason;
}

} // namespace zorvane::linux_platform
