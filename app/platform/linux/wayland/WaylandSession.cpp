#include "app/platform/linux/wayland/WaylandSession.h"

#include <cstdlib>
#include <wayland-client.h>
#include <sstream>

namespace zorvane::wayland {

namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string lowercase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

bool isWaylandSession()
{
    return !environment("WAYLAND_DISPLAY").empty() || lowercase(environment("XDG_SESSION_TYPE")) == "wayland";
}

Desktop desktopNamed(const std::string& currentDesktop)
{
    std::istringstream names(lowercase(currentDesktop));
    std::string name;
    while (std::getline(names, name, ':')) {
        if (name == "gnome" || name == "gnome-classic") return Desktop::gnome;
        if (name == "kde" || name == "plasma") return Desktop::kde;
        if (name == "sway" || name == "wlroots" || name == "river" || name == "wayfire" || name == "hyprland"
            || name == "labwc")
            return Desktop::wlroots;
    }
    return Desktop::other;
}

bool canConnect()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return false;
    wl_display_disconnect(display);
    return true;
}

Desktop currentDesktop() { return desktopNamed(environment("XDG_CURRENT_DESKTOP")); }

void choosePlatformBeforeQt()
{
    if (!isWaylandSession() || !environment("QT_QPA_PLATFORM").empty()) return;
    ::setenv("QT_QPA_PLATFORM", "wayland;xcb", 1);
}

} // namespace zorvane::wayland
