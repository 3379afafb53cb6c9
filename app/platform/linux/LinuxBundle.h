#pragma once

#include "app/platform/Bundle.h"

#include <map>

namespace zorvane::linux_platform {

// The bundle laid out by the build (Zorvane.app/Contents/{Info.plist,MacOS,Resources}). The
// information keys are read once, when the bundle is opened.
class LinuxBundle : public Bundle {
public:
    explicit LinuxBundle(std::filesystem::path bundlePath);
    // The bundle that holds the running executable (Contents/MacOS/<program>).
    static LinuxBundle forRunningExecutable();

    std::filesystem::path bundlePath() const override { return root_; }
    std::filesystem::path executablesPath() const override { return root_ / "Contents" / "MacOS"; }
    std::filesystem::path resourcesPath() const override { return root_ / "Contents" / "Resources"; }
    std::optional<std::string> infoValue(const std::string& key) const override;

private:
    std::filesystem::path root_;
    std::map<std::string, std::string> info_;
};

} // namespace zorvane::linux_platform
