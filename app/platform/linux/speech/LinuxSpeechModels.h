#pragma once

#include "app/platform/MainQueue.h"
#include "app/platform/SpeechModels.h"
#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"
#include "app/platform/linux/speech/SpeechModelDownloads.h"

#include <atomic>
#include <memory>
#include <thread>

namespace zorvane::linux_platform {

struct LinuxSpeechModelsOptions {
    std::filesystem::path modelsFolder; // the recognisers' SpeechRecognizerPlaces::modelsFolder
    std::string language;               // the user's, as LinuxSpeechRecognizers::language gives it
    std::vector<SpeechModelEntry> catalog = SpeechModelCatalog::official();
    std::shared_ptr<LinuxSpeechRecognizers> recognizers;
    std::shared_ptr<MainQueue> mainQueue;
    // Tests only: their catalogue points at a plain HTTP server on this machine.
    bool allowPlainHttpToLoopback = false;
};

// The user's language's speech model on this desktop: Vosk's official model from the catalogue,
// downloaded on a thread of its own into the folder the recognisers read, so the next dictation
// uses it. Main thread only; the download reports back through the main queue. Destroying it
// stops a download (keeping what it fetched) and waits for its thread.
class LinuxSpeechModels final : public SpeechModels, public std::enable_shared_from_this<LinuxSpeechModels> {
public:
    static std::shared_ptr<LinuxSpeechModels> create(LinuxSpeechModelsOptions options);
    explicit LinuxSpeechModels(LinuxSpeechModelsOptions options);
    ~LinuxSpeechModels() override;
    LinuxSpeechModels(const LinuxSpeechModels&) = delete;
    LinuxSpeechModels& operator=(const LinuxSpeechModels&) = delete;

    // None also while the folder holds several models: replacing them would delete the user's.
    std::optional<Offer> offer() override;
    Status status() override;
    Engine engine() override;
    std::string modelFolder() override;
    void download() override;
    void cancelDownload() override;
    void removeModel() override;

    // Downloads the offer when the language has no usable model; returns whether a download runs.
    bool installIfOffered();

private:
    void finished(std::uint64_t generation, std::optional<std::string> failure);

    const LinuxSpeechModelsOptions options_;
    const SpeechModelDownloads downloads_;
    const std::optional<SpeechModelEntry> entry_;

    // Main thread.
    bool running_ = false;
    Phase phase_ = Phase::absent;
    std::uint64_t receivedBytes_ = 0;
    std::optional<std::string> failure_;
    std::uint64_t generation_ = 0;

    std::atomic<bool> cancelled_ {false};
    std::atomic<bool> closing_ {false}; // a download stopped by closing is resumed next time
    std::thread worker_;
};

} // namespace zorvane::linux_platform
