#include "app/platform/linux/speech/LinuxSpeechModels.h"

#include "app/platform/linux/speech/VoskRecognizer.h"

namespace zorvane::linux_platform {

std::shared_ptr<LinuxSpeechModels> LinuxSpeechModels::create(LinuxSpeechModelsOptions options)
{
    return std::make_shared<LinuxSpeechModels>(std::move(options));
}

LinuxSpeechModels::LinuxSpeechModels(LinuxSpeechModelsOptions options)
    : options_(std::move(options))
    , downloads_(options_.modelsFolder, options_.allowPlainHttpToLoopback)
    , entry_(SpeechModelCatalog::forLanguage(options_.catalog, options_.language))
{
}

LinuxSpeechModels::~LinuxSpeechModels()
{
    closing_ = true;
    cancelled_ = true;
    if (worker_.joinable()) worker_.join();
}

std::optional<SpeechModels::Offer> LinuxSpeechModels::offer()
{
    if (!entry_) return std::nullopt;
    if (Vosk::findModel(options_.modelsFolder / options_.language).problem == Vosk::ModelLookup::Problem::ambiguous)
        return std::nullopt;
    return Offer {LinuxSpeechRecognizers::languageName(options_.language), entry_->name, entry_->bytes};
}

SpeechModels::Status LinuxSpeechModels::status()
{
    Status status;
    status.failure = failure_;
    status.totalBytes = entry_ ? entry_->bytes : 0;
    if (running_) {
        status.phase = phase_;
        status.receivedBytes = receivedBytes_;
        return status;
    }
    // A model unpacked by hand counts as much as one downloaded here.
    const Vosk::ModelLookup lookup = Vosk::findModel(options_.modelsFolder / options_.language);
    if (lookup.model) {
        status.phase = Phase::installed;
        status.installedModel = lookup.model->filename().string();
    } else if (entry_) {
        status.receivedBytes = downloads_.partialBytes(*entry_);
    }
    return status;
}

SpeechModels::Engine LinuxSpeechModels::engine()
{
    if (const auto inUse = options_.recognizers->engineInUse())
        return {true, "Dictado usa " + inUse->engine + " con el modelo " + inUse->model + "."};
    return {false, options_.recognizers->unavailableReason().value_or("Dictado no tiene un reconocedor de voz para este idioma.")};
}

std::string LinuxSpeechModels::modelFolder() { return (options_.modelsFolder / options_.language).string(); }

void LinuxSpeechModels::download()
{
    if (running_ || !entry_) return;
    if (worker_.joinable()) worker_.join(); // the last download's thread, already done
    running_ = true;
    phase_ = Phase::downloading;
    receivedBytes_ = downloads_.partialBytes(*entry_);
    failure_.reset();
    cancelled_ = false;
    const std::uint64_t generation = ++generation_;
    objectDidChange();

    worker_ = std::thread([this, weak = weak_from_this(), generation, entry = *entry_, mainQueue = options_.mainQueue] {
        std::optional<std::string> failure;
        try {
            downloads_.install(entry, cancelled_, [&](const SpeechModelDownloads::Progress& progress) {
                mainQueue->post([weak, generation, progress] {
                    const auto self = weak.lock();
                    if (!self || !self->running_ || self->generation_ != generation) return;
                    self->receivedBytes_ = progress.receivedBytes;
                    self->phase_ = progress.downloaded ? Phase::installing : Phase::downloading;
                    self->objectDidChange();
                });
            }, &closing_);
        } catch (const SpeechModelError& error) {
            // A cancel is what the user asked for: nothing to explain. Only a download that kept
            // something was interrupted; one that never started simply failed.
            const bool interrupted = error.resumable() && downloads_.partialBytes(entry) > 0;
            if (!cancelled_)
                failure = (interrupted ? "La descarga del modelo de voz se interrumpió: " : "No se pudo descargar el modelo de voz: ")
                    + error.localizedDescription();
        }
        mainQueue->post([weak, generation, failure] {
            if (const auto self = weak.lock()) self->finished(generation, failure);
        });
    });
}

void LinuxSpeechModels::finished(std::uint64_t generation, std::optional<std::string> failure)
{
    if (generation != generation_) return;
    if (worker_.joinable()) worker_.join(); // its last act was to post this
    running_ = false;
    phase_ = Phase::absent;
    failure_ = std::move(failure);
    objectDidChange();
}

void LinuxSpeechModels::cancelDownload()
{
    // The thread stops at its next step and deletes what it fetched; finished() reports it.
    if (running_) cancelled_ = true;
}

void LinuxSpeechModels::removeModel()
{
    if (running_) {
        cancelDownload();
        return;
    }
    try {
        downloads_.remove(options_.language, entry_ ? &*entry_ : nullptr);
        failure_.reset();
    } catch (const SpeechModelError& error) {
        failure_ = "No se pudo eliminar el modelo de voz: " + error.localizedDescription();
    }
    objectDidChange();
}

bool LinuxSpeechModels::installIfOffered()
{
    if (!running_ && offer() && status().phase != Phase::installed) download();
    return running_;
}

} // namespace zorvane::linux_platform
