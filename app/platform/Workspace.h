#pragma once

#include "app/platform/WindowList.h"

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
    // The process that owns the frontmost application's window, if known.
    virtual std::optional<ProcessID> frontmostApplicationProcessID() = 0;
    // Identifier, in the same style, of the application a running process belongs to; none
    // when the process is gone or cannot be looked at.
    virtual std::optional<std::string> applicationIdentifierOfProcess(ProcessID process) = 0;
    // Each returns whether the request was handed to the system.
    virtual bool openURL(const std::string& url) = 0;
    virtual bool openURLWithApplication(const std::string& url, const std::string& applicationIdentifier) = 0;
    virtual bool revealFile(const std::filesystem::path& path) = 0;
    virtual bool isApplicationInstalled(const std::string& applicationIdentifier) = 0;
};

} // namespace zorvane
