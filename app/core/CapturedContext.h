#pragma once

#include "app/core/Geometry.h"
#include "app/core/UUID.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

// One selection made on the screen: what was picked, where, and (once captured) its PNG image.
struct CapturedContext {
    enum class Kind { text, image, interface };

    UUID id;
    Kind kind = Kind::image;
    std::string appName;
    std::string role;
    std::string title;
    std::string content;
    Rect screenRect; // Quartz global coordinates, in points
    std::optional<std::vector<std::uint8_t>> imageData;

    // The one-line caption of the selection highlight and the composer's context card.
    std::string displayTitle() const;

    friend bool operator==(const CapturedContext&, const CapturedContext&) = default;
};

std::optional<CapturedContext::Kind> kindFromRawValue(std::string_view rawValue);
std::string rawValue(CapturedContext::Kind kind);

// The user's choice between a quick and a more thorough answer.
enum class AIResponseMode { fast, thinking };

namespace AIResponseModes {
inline constexpr AIResponseMode allCases[] = {AIResponseMode::fast, AIResponseMode::thinking};
std::optional<AIResponseMode> fromRawValue(std::string_view rawValue);
std::string rawValue(AIResponseMode mode);
std::string label(AIResponseMode mode);
std::string symbol(AIResponseMode mode); // SF Symbols name; adapters map it to their own icons
std::string description(AIResponseMode mode);
} // namespace AIResponseModes

// Snapshot of the four privacy permissions; every status other than granted counts as false.
struct PermissionState {
    bool accessibility = false;
    bool screenRecording = false;
    bool microphone = false;
    bool speechRecognition = false;

    friend bool operator==(const PermissionState&, const PermissionState&) = default;
};

} // namespace zorvane
