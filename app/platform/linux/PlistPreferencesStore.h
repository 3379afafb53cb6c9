#pragma once

#include "app/platform/PreferencesStore.h"

#include <filesystem>
#include <mutex>

namespace zorvane::linux_platform {

// The preferences domain as one XML property-list file, by default
// $XDG_CONFIG_HOME/zorvane/preferences.plist (~/.config when XDG_CONFIG_HOME is unset or not absolute).
// Saves are atomic (temporary file, fsync, rename), so a crash leaves the old or the new file. A
// file that cannot be parsed is moved aside with a ".corrupt" suffix and never overwritten.
class PlistPreferencesStore : public PreferencesStore {
public:
    explicit PlistPreferencesStore(std::filesystem::path file);
    static std::filesystem::path defaultPath(); // from the environment

    PreferenceDomain load() override;
    void save(const PreferenceDomain& domain) override;

    const std::filesystem::path& path() const { return file_; }

private:
    void moveAside();

    std::filesystem::path file_;
    std::mutex mutex_;
};

} // namespace zorvane::linux_platform
