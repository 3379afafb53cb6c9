#pragma once

#include "app/platform/Workspace.h"
#include "app/platform/linux/wayland/CompositorWindows.h"

#include <functional>
#include <memory>

namespace zorvane {

// The desktop around us where a compositor helper reports the windows: the frontmost application
// is its active window's; the rest, and any question it cannot answer, go to the usual workspace.
class CompositorWorkspace final : public Workspace {
public:
    // identify: the application identifier for a window's app_id (or class) and process.
    using Identify = std::function<std::optional<std::string>(const std::string& appID, ProcessID pid)>;
    CompositorWorkspace(std::shared_ptr<CompositorWindows> windows, std::shared_ptr<Workspace> usual, Identify identify)
        : windows_(std::move(windows)), usual_(std::move(usual)), identify_(std::move(identify))
    {
    }

    std::optional<std::string> frontmostApplicationIdentifier() override
    {
        if (!windows_->known()) return usual_->frontmostApplicationIdentifier();
        const auto active = windows_->active();
        if (!active) return std::nullopt;
        return identify_(active->appID, active->pid);
    }
    std::optional<ProcessID> frontmostApplicationProcessID() override
    {
        if (!windows_->known()) return usual_->frontmostApplicationProcessID();
        const auto active = windows_->active();
        if (!active || active->pid <= 0) return std::nullopt;
        return active->pid;
    }
    std::optional<std::string> applicationIdentifierOfProcess(ProcessID process) override
    {
        return usual_->applicationIdentifierOfProcess(process);
    }
    bool openURL(const std::string& url) override { return usual_->openURL(url); }
    bool openURLWithApplication(const std::string& url, const std::string& applicationIdentifier) override
    {
        return usual_->openURLWithApplication(url, applicationIdentifier);
    }
    bool revealFile(const std::filesystem::path& path) override { return usual_->revealFile(path); }
    bool isApplicationInstalled(const std::string& applicationIdentifier) override
    {
        return usual_->isApplicationInstalled(applicationIdentifier);
    }

private:
    std::shared_ptr<CompositorWindows> windows_;
    std::shared_ptr<Workspace> usual_;
    Identify identify_;
};

} // namespace zorvane
