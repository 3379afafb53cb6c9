#pragma once

#include "app/platform/linux/speech/RecognitionEngine.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace zorvane::linux_platform {

// The Vosk recogniser: a library loaded at run time from the bundle, with a model the user places
// in a folder of their own. Nothing is loaded until a recognition asks for it.
namespace Vosk {

// The model inside `folder`: the folder itself, or the one folder in it that holds a model (as
// a downloaded archive unpacks). None, with the reason, when there is no usable model there.
struct ModelLookup {
    std::optional<std::filesystem::path> model;
    std::string reason; // Spanish, when there is no model
    enum class Problem { none, missing, damaged, ambiguous } problem = Problem::none;
};
ModelLookup findModel(const std::filesystem::path& folder);

// Whether the library is there and has every function used here; the reason when not. Opens the
// library (a large one: not on the main thread) and keeps it open.
std::optional<std::string> checkLibrary(const std::filesystem::path& library);

// The files every Vosk model has, besides its graph (HCLG.fst, or HCLr.fst with Gr.fst).
inline constexpr const char* requiredFiles[] = {"am/final.mdl", "conf/mfcc.conf", "conf/model.conf"};

// Opens the library and loads the model (slow: run off the main thread); throws with a Spanish
// reason on failure.
std::unique_ptr<SpeechDecoder> load(const std::filesystem::path& library, const std::filesystem::path& model);

} // namespace Vosk

} // namespace zorvane::linux_platform
