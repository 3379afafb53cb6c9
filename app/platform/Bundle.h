#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zorvane {

// The application bundle: where its parts are, and its information keys.
class Bundle {
public:
    virtual ~Bundle() = default;
    virtual std::filesystem::path bundlePath() const = 0;      // .../Zorvane.app
    virtual std::filesystem::path executablesPath() const = 0; // Contents/MacOS
    virtual std::filesystem::path resourcesPath() const = 0;   // Contents/Resources
    // A string under the key in Contents/Info.plist, or none when absent or not a string.
    virtual std::optional<std::string> infoValue(const std::string& key) const = 0;
};

} // namespace zorvane
