#pragma once

#include "app/platform/linux/desktop/DesktopEntryFile.h"
#include "app/platform/linux/desktop/XdgLoginItem.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace zorvane::linux_platform {

// The entry that makes Zorvane findable in the desktop's application menu:
// applications/com.quenvar.Zorvane.desktop and the icon com.quenvar.Zorvane in the user's hicolor
// theme, both under the XDG data folder. Written at start by the copy that owns the user's entries,
// so a moved bundle still works; files whose content is already right are left alone.
class LauncherEntry {
public:
    static constexpr const char* entryName = "com.quenvar.Zorvane.desktop";
    static constexpr const char* iconName = "com.quenvar.Zorvane";

    // `iconFolder` holds icon16.png, icon32.png, icon48.png and icon128.png (missing sizes are
    // skipped). `systemDataFolders` are where an installed Zorvane's own entry lives.
    LauncherEntry(std::filesystem::path program, std::filesystem::path iconFolder, std::filesystem::path dataHome,
        std::vector<std::filesystem::path> systemDataFolders = DesktopEntryFile::dataDirs());
    // $XDG_DATA_HOME, else ~/.local/share.
    static std::filesystem::path defaultDataHome();

    // Whether this copy may rewrite the user's launcher and autostart entries. One copy owns them:
    // the one the autostart entry starts (the user turned autostart on from it), while it exists;
    // else the installed one; else the one the launcher entry starts, while it exists; else, when
    // none of these is left (a first start, a moved or deleted owner), the copy now starting.
    bool ownsEntries(const std::filesystem::path& autostartEntry) const;

    // Writes the entry and the icons; in the installed copy, removes them instead, as they would
    // hide the package's own. Throws std::system_error with a Spanish text when a file cannot be
    // written.
    void install() const;

    std::filesystem::path entryPath() const { return dataHome_ / "applications" / entryName; }

private:
    // The program the package's entry in the system data folders starts, if it is there.
    std::optional<std::filesystem::path> installedProgram() const;

    std::filesystem::path program_;
    std::filesystem::path iconFolder_;
    std::filesystem::path dataHome_;
    std::vector<std::filesystem::path> systemDataFolders_;
};

// The start's step for the user's entries: in the copy that owns them, the autostart entry follows
// this program (on or off as the user left it) and the launcher entry is written; any other copy (an
// old download run once) leaves them as they are. A file that cannot be written keeps its old
// content: Zorvane runs without it. Returns whether this copy owns the entries.
bool refreshDesktopEntries(XdgLoginItem& autostart, const LauncherEntry& launcher);

} // namespace zorvane::linux_platform
