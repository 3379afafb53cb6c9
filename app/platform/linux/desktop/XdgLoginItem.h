#pragma once

#include "app/platform/LoginItem.h"

#include <filesystem>

namespace zorvane::linux_platform {

// Start at login through an XDG autostart entry, com.quenvar.Zorvane.desktop in the user's
// autostart folder, that starts this bundle's program. It counts as enabled when the entry exists,
// starts this very program and is not Hidden; an entry of a moved bundle counts as off until it is
// registered again (or refreshed at start).
class XdgLoginItem : public LoginItem {
public:
    static constexpr const char* entryName = "com.quenvar.Zorvane.desktop";

    XdgLoginItem(std::filesystem::path program, std::filesystem::path autostartFolder);
    // $XDG_CONFIG_HOME/autostart, else ~/.config/autostart.
    static std::filesystem::path defaultAutostartFolder();

    Status status() override;
    // Atomic write and removal; failures throw std::system_error with a Spanish text.
    void registerItem() override;
    void unregisterItem() override;

    // At start: an enabled entry that names another program (the bundle was moved) is pointed at
    // this one. Returns whether it rewrote the entry; throws like registerItem.
    bool refreshIfEnabled();

    std::filesystem::path entryPath() const { return folder_ / entryName; }

private:
    std::filesystem::path program_;
    std::filesystem::path folder_;
};

} // namespace zorvane::linux_platform
