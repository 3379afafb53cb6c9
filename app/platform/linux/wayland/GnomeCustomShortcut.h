#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zorvane {

// "Seleccionar en pantalla" as one of GNOME's own custom keyboard shortcuts (GNOME has no
// GlobalShortcuts portal before version 48): an entry that runs `Zorvane --select`, added only
// when the user asks for it and removed the same way. The keys are Ctrl+Alt+Espacio unless the
// desktop already uses them. Main thread only.
class GnomeCustomShortcut {
public:
    static constexpr const char* entryPath = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/zorvane/";

    explicit GnomeCustomShortcut(std::filesystem::path program);

    // Whether this desktop keeps custom shortcuts at all (GNOME's settings schemas are installed).
    static bool isAvailable();
    // The keys of our entry as the user reads them ("Ctrl+Alt+Espacio"), none when there is none.
    std::optional<std::string> installed() const;
    // Adds the entry with the first free keys; returns them as the user reads them. Throws
    // std::runtime_error with a Spanish text when it cannot.
    std::string install() const;
    void remove() const;

    // GNOME's accelerator ("<Control><Alt>space") as the user reads it.
    static std::string readable(const std::string& accelerator);
    // The first candidate not among the accelerators in use, compared without regard to case or
    // the order of the modifiers; none when all are taken.
    static std::optional<std::string> firstFree(const std::vector<std::string>& candidates, const std::vector<std::string>& inUse);

private:
    std::filesystem::path program_;
};

} // namespace zorvane
