#pragma once

#include "app/platform/LoginItem.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zorvane::linux_platform {

// Start at login through an XDG autostart entry, com.quenvar.Zorvane.desktop in the user's
// autostart folder, that starts this bundle's program. It counts as enabled when the entry exists,
// starts this very program and nobody switched it off (Hidden=true, or
// X-GNOME-Autostart-enabled=false from the desktop's own startup settings); an entry of a moved
// bundle counts as off until it is registered again (or followed at start).
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

    // At start, in the copy that owns the entries: an entry whose program is gone (the bundle moved)
    // is pointed at this one, switched off still if it was off. An entry that starts another copy
    // still there is that copy's. Returns whether it rewrote the entry; throws like registerItem.
    bool followThisProgram();

    std::filesystem::path entryPath() const { return folder_ / entryName; }

private:
    void write(const std::vector<std::string>& offSwitches);

    std::filesystem::path program_;
    std::filesystem::path folder_;
};

} // namespace zorvane::linux_platform
