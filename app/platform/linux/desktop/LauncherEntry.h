#pragma once

#include <filesystem>

namespace zorvane::linux_platform {

// The entry that makes Zorvane findable in the desktop's application menu:
// applications/com.quenvar.Zorvane.desktop and the icon com.quenvar.Zorvane in the user's hicolor
// theme, both under the XDG data folder. Written at every start so a moved bundle still works;
// files whose content is already right are left alone.
class LauncherEntry {
public:
    static constexpr const char* entryName = "com.quenvar.Zorvane.desktop";
    static constexpr const char* iconName = "com.quenvar.Zorvane";

    // `iconFolder` holds icon16.png, icon32.png, icon48.png and icon128.png (missing sizes are skipped).
    LauncherEntry(std::filesystem::path program, std::filesystem::path iconFolder, std::filesystem::path dataHome);
    // $XDG_DATA_HOME, else ~/.local/share.
    static std::filesystem::path defaultDataHome();

    // Throws std::system_error with a Spanish text when a file cannot be written.
    void install() const;

    std::filesystem::path entryPath() const { return dataHome_ / "applications" / entryName; }

private:
    std::filesystem::path program_;
    std::filesystem::path iconFolder_;
    std::filesystem::path dataHome_;
};

} // namespace zorvane::linux_platform
