#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"

#include "app/platform/linux/speech/SpeechModelCatalog.h"
#include "app/platform/linux/speech/VoskRecognizer.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

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
    for (const SpeechModelEntry& entry : SpeechModelCatalog::official()) places.downloadable.insert(entry.language);
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

std::string LinuxSpeechRecognizers::languageName(const std::string& language)
{
    icu::UnicodeString name;
    icu::Locale(language.c_str()).getDisplayLanguage(icu::Locale("es"), name);
    std::string text;
    name.toUTF8String(text);
    return text.empty() ? language : text;
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
    const std::string lang = language(localeIdentifier);
    Choice choice;
    std::error_code error;
    // Only the file is looked at here: opening the library (25 MB) waits for the first recognition.
    const bool hasLibrary = fs::is_regular_file(places_.voskLibrary, error);
    const Vosk::ModelLookup lookup = Vosk::findModel(modelFolder(localeIdentifier));
    if (lookup.model && hasLibrary) {
        // A model replaced in place is a new model: its own engine, its own chance to load.
        const auto changed = fs::last_write_time(*lookup.model / "am" / "final.mdl", error);
        choice.engineKey = "vosk:" + lookup.model->string() + ":" + std::to_string(changed.time_since_epoch().count());
        choice.inUse = {"Vosk", lookup.model->filename().string()};
        choice.loader = [library = places_.voskLibrary, model = *lookup.model] { return Vosk::load(library, model); };
    } else if (lang == "en" && places_.english.isInstalled()) {
        // Debian's model needs no download; a Vosk model, once there, recognises far better.
        choice.engineKey = "pocketsphinx";
        choice.inUse = {"pocketsphinx", "inglés de EE. UU. de Debian"};
        choice.loader = [model = places_.english] { return loadPocketSphinx(model); };
    } else if (!hasLibrary) {
        choice.reason = "Falta la biblioteca de reconocimiento de voz (" + places_.voskLibrary.filename().string()
            + ") en la instalación de Zorvane.";
    } else if (lookup.problem == Vosk::ModelLookup::Problem::missing) {
        choice.reason = places_.downloadable.contains(lang)
            ? "Para dictar en " + languageName(lang) + " hace falta un modelo de voz."
            : modelInstructions();
    } else {
        choice.reason = lookup.reason;
    }

    const auto it = engines_.find(lang);
    if (it != engines_.end() && (choice.reason || it->second.key != choice.engineKey)) engines_.erase(it);
    else if (it != engines_.end()) choice.reason = it->second.engine->failure();
    return choice;
}

std::shared_ptr<SpeechRecognizer> LinuxSpeechRecognizers::recognizerForLocale(const std::string& localeIdentifier)
{
    std::lock_guard lock(mutex_);
    Choice choice = choose(localeIdentifier);
    if (choice.reason) return nullptr;
    Engine& slot = engines_[language(localeIdentifier)];
    if (!slot.engine) slot = {choice.engineKey, std::make_shared<RecognitionEngine>(std::move(choice.loader))};
    return std::make_shared<EngineSpeechRecognizer>(slot.engine);
}

std::optional<LinuxSpeechRecognizers::EngineInUse> LinuxSpeechRecognizers::engineInUse()
{
    std::lock_guard lock(mutex_);
    Choice choice = choose(localeIdentifier_);
    if (choice.reason) return std::nullopt;
    return choice.inUse;
}

void LinuxSpeechRecognizers::setModelInstaller(std::function<bool()> installer)
{
    std::lock_guard lock(mutex_);
    installModel_ = std::move(installer);
}

void LinuxSpeechRecognizers::requestAuthorization(std::function<void()> completion)
{
    std::function<bool()> install;
    {
        std::lock_guard lock(mutex_);
        install = installModel_;
    }
    if (install && install()) {
        if (completion) completion();
        return;
    }
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
