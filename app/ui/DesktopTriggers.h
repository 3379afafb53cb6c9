#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace zorvane::ui {

// What this desktop offers in place of the pointer shake, and what differs on a Wayland session.
// The composition root fills it once at start-up; the onboarding and settings read it.
struct DesktopTriggers {
    bool wayland = false;
    // Empty where the shake works; else why it does not, in one line.
    QString shakeUnavailable;
    // What the user reads about the keyboard shortcut: KDE's portal shortcut, or sway's line to
    // copy into its configuration (selectable). Empty where there is nothing to say.
    QString shortcutNote;
    // GNOME: the custom shortcut, added and removed only when the user asks. `customShortcut`
    // gives its keys when there is one; `addCustomShortcut` returns them or throws with the reason.
    std::function<std::optional<std::string>()> customShortcut;
    std::function<std::string()> addCustomShortcut;
    std::function<void()> removeCustomShortcut;
    // GNOME: our Shell extension, which lets us find the element under the pointer and see the
    // shake, installed and removed only when the user asks; `installHelper` throws with the reason.
    std::function<bool()> helperInstalled;
    std::function<void()> installHelper;
    std::function<void()> removeHelper;
    // What the permission pages say about capturing the screen on this session; empty on X11.
    QString captureNote;

    static DesktopTriggers& shared();
};

} // namespace zorvane::ui
