#pragma once

#include "app/platform/Bundle.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

// Registers ZorvaneBrowserHost with the Chromium-family browsers: writes the native-messaging
// host manifest into each browser's per-user folder, whether or not the browser is installed.
// Run at every start, so the manifests always name the bundle the application runs from.
class BrowserBridgeInstaller {
public:
    // The ID of the extension shipped in Resources/BrowserExtension, fixed by its manifest key.
    static constexpr std::string_view extensionID = "mdclfcdboeglgnlhajcabdbhofpffcmi";
    static constexpr std::string_view hostExecutableName = "ZorvaneBrowserHost";

    // File name of the manifest in every destination folder.
    std::string hostName = "com.quenvar.zorvane.json";

    // homeDirectory is the user's home; configHome is where the browsers keep their profiles on
    // Linux ($XDG_CONFIG_HOME, else home/.config).
    BrowserBridgeInstaller(const Bundle& bundle, std::filesystem::path homeDirectory,
                           std::optional<std::filesystem::path> configHome = std::nullopt);

    // The installer for the user running the process, from $HOME and $XDG_CONFIG_HOME.
    static BrowserBridgeInstaller forCurrentUser(const Bundle& bundle);

    std::filesystem::path hostPath() const { return hostPath_; }

    // The browsers' per-user manifest folders, in the order they are written.
    std::vector<std::filesystem::path> destinations() const;

    // Writes the manifest into every destination, each replaced atomically. Throws
    // std::system_error: file-not-found when the host executable is missing or not executable
    // (nothing is written), or the first folder or file that could not be made (manifests
    // written before it stay).
    void install() const;

    // The manifest's exact bytes for a host at hostPath: sorted keys, two-space indentation,
    // every "/" escaped, no final line break. Throws std::system_error for a path that is not
    // UTF-8 text.
    static std::string manifestText(const std::string& hostPath);

private:
    std::filesystem::path hostPath_;
    std::filesystem::path homeDirectory_;
    std::filesystem::path configHome_;
};

} // namespace zorvane
