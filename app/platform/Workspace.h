#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace zorvane {

// The desktop around us: which application is in front, and opening things.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Identifier of the frontmost application (bundle-identifier style), if known.
    virtual std::optional<std::string> frontmostApplicationIdentifier() = 0;
    // Each returns whether the request was handed to the system.
    virtual bool openURL(const std::string& url) = 0;
    virtual bool openURLWithApplication(const std::string& url, const std::string& applicationIdentifier) = 0;
    virtual bool revealFile(const std::filesystem::path& path) = 0;
    virtual bool isApplicationInstalled(const std::string& applicationIdentifier) = 0;
};

} // namespace zorvane
