#pragma once

#include "app/core/ObservableObject.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zorvane {

// The speech model dictation needs for the user's language, one click away: the official model
// offered for it, its download, and what dictation uses now. Main thread only; observers are told
// of every change, the download's progress included.
class SpeechModels : public ObservableObject {
public:
    struct Offer {
        std::string languageName; // "español"
        std::string modelName;    // "vosk-model-small-es-0.42"
        std::uint64_t bytes = 0;  // of the download
    };
    enum class Phase { absent, downloading, installing, installed };
    struct Status {
        Phase phase = Phase::absent;
        // While downloading; when absent, what an interrupted download kept (it resumes from there).
        std::uint64_t receivedBytes = 0;
        std::uint64_t totalBytes = 0;
        std::optional<std::string> failure;        // why the last download installed nothing, for the user
        std::optional<std::string> installedModel; // the usable model's name, however it got there
    };

    virtual ~SpeechModels() = default;

    // The official model for the user's language; none when there is none to offer.
    virtual std::optional<Offer> offer() = 0;
    virtual Status status() = 0;
    struct Engine {
        bool available = false;  // dictation has a recogniser for the language now
        std::string description; // one sentence: the engine and model it uses, or why there is none
    };
    virtual Engine engine() = 0;
    // Where models go, for the user who unpacks one by hand.
    virtual std::string modelFolder() = 0;

    // Starts the download of the offer (resuming what an interrupted one kept); the model is used
    // by the next dictation once installed. Does nothing while one runs or without an offer.
    virtual void download() = 0;
    // Stops the download and deletes what it fetched.
    virtual void cancelDownload() = 0;
    // Deletes the language's model, and any partial download, from the disk.
    virtual void removeModel() = 0;
};

} // namespace zorvane
