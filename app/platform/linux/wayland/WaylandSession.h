#pragma once

#include <string>

namespace zorvane::wayland {

// Which desktop a Wayland session runs, as far as the adapters differ: each allows an ordinary
// client different ways to capture the screen and to bind a shortcut.
enum class Desktop {
    gnome,   // Mutter: the Screenshot portal (asks once), a custom shortcut in GNOME's settings
    kde,     // KWin: ScreenShot2 for clients its desktop entry names, else the portal; the
             // GlobalShortcuts portal
    wlroots, // sway and its kin: the wlroots screen copy, a bindsym line
    other,   // anything else: the portal
};

// Whether this process runs in a Wayland session ($WAYLAND_DISPLAY, or $XDG_SESSION_TYPE).
bool isWaylandSession();

// The desktop named by an $XDG_CURRENT_DESKTOP value (a colon-separated list, any case).
Desktop desktopNamed(const std::string& currentDesktop);
// The desktop of this session.
Desktop currentDesktop();

// Whether the session's compositor accepts a connection.
bool canConnect();

// Before the QApplication exists: in a Wayland session Qt runs on Wayland (falling back to
// XWayland only when its Wayland plugin is missing), unless the user chose a platform.
void choosePlatformBeforeQt();

} // namespace zorvane::wayland
