#pragma once

#include "app/platform/linux/speech/RecognitionEngine.h"

#include <filesystem>
#include <optional>

namespace zorvane::linux_platform {

// Where Debian's pocketsphinx keeps its US English model, and what to decode with.
struct PocketSphinxModel {
    std::filesystem::path directory = "/usr/share/pocketsphinx/model/en-us";
    // A JSGF phrase grammar instead of the language model: fixed phrases (commands, tests).
    std::optional<std::filesystem::path> grammar;
    // A pronunciation dictionary instead of the model's own.
    std::optional<std::filesystem::path> dictionary;

    std::filesystem::path acousticModel() const { return directory / "en-us"; }
    std::filesystem::path languageModel() const { return directory / "en-us.lm.bin"; }
    std::filesystem::path pronunciations() const { return dictionary ? *dictionary : directory / "cmudict-en-us.dict"; }
    // Whether the files are there, without loading anything.
    bool isInstalled() const;
};

// Loads the model (slow: run off the main thread); throws with a Spanish reason on failure.
std::unique_ptr<SpeechDecoder> loadPocketSphinx(const PocketSphinxModel& model);

} // namespace zorvane::linux_platform
