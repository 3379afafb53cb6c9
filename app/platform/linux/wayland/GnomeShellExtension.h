#pragma once

#include <filesystem>

namespace zorvane {

// Our GNOME Shell extension (resources/gnome-shell), which tells us where the windows and the
// pointer are: put into the user's extensions folder and switched on only when the user asks,
// and taken out the same way. GNOME Shell on Wayland reads new extensions when it starts: it works
// from the next login. Main thread only.
class GnomeShellExtension {
public:
    static constexpr const char* uuid = "zorvane-windows@quenvar.com";

    // shipped: the extension's folder in the program's data.
    explicit GnomeShellExtension(std::filesystem::path shipped);

    // Whether this desktop keeps a list of extensions (GNOME Shell's settings schema is installed).
    static bool isAvailable();
    // In the user's folder and in GNOME's list of extensions to run.
    bool installed() const;
    // Throws std::runtime_error with a Spanish text when it cannot.
    void install() const;
    void remove() const;
    // An installed copy from another version of Zorvane is replaced with ours (GNOME reads it at
    // the next login); nothing happens when none is installed.
    void replaceIfOther() const;

    // The user's extensions folder ($XDG_DATA_HOME/gnome-shell/extensions).
    static std::filesystem::path userFolder();

private:
    std::filesystem::path shipped_;
};

} // namespace zorvane
