#pragma once

#include "app/platform/Bundle.h"

#include <map>

namespace zorvane::linux_platform {

// Where Zorvane's parts are. Two layouts: the portable bundle the build lays out
// (Zorvane.app/Contents/{Info.plist,MacOS,Resources,Frameworks}), which the self-updater replaces;
// and an installed copy in the usual Linux places under a prefix (bin/zorvane, lib/zorvane/ for the
// browser host and the libraries loaded at run time, share/zorvane/ for the data and Info.plist),
// which the package manager updates. The information keys are read once, when it is opened.
class LinuxBundle : public Bundle {
public:
    explicit LinuxBundle(std::filesystem::path bundlePath);
    // The copy installed under `prefix` (for example /usr).
    static LinuxBundle installed(const std::filesystem::path& prefix);
    // The bundle or installed copy that holds the running executable.
    static LinuxBundle forRunningExecutable();

    bool isInstalled() const { return installed_; }
    // For an installed copy, its private folder (lib/zorvane).
    std::filesystem::path bundlePath() const override { return root_; }
    std::filesystem::path executablesPath() const override { return executables_; }
    std::filesystem::path resourcesPath() const override { return resources_; }
    std::filesystem::path frameworksPath() const { return frameworks_; }
    // What the launcher and autostart entries start: Contents/MacOS/Zorvane, or bin/zorvane.
    std::filesystem::path programPath() const { return program_; }
    std::optional<std::string> infoValue(const std::string& key) const override;

private:
    LinuxBundle() = default;
    void readInfo(const std::filesystem::path& plist);

    bool installed_ = false;
    std::filesystem::path root_, executables_, resources_, frameworks_, program_;
    std::map<std::string, std::string> info_;
};

} // namespace zorvane::linux_platform
