#pragma once

#include "app/core/Geometry.h"

#include <optional>
#include <string>
#include <vector>

// Where an application's reported coordinates are on the screen. Toolkits on a scaled desktop
// report their own logical pixels, not the root window's: GTK 3 at GDK_SCALE=2 divides every
// coordinate by 2; Qt 6 divides within each monitor, keeping the monitor's corner where it is;
// Chromium reports its own interface in logical pixels but web pages in root pixels. Pure
// functions: the AT-SPI adapter feeds them what it reads.
namespace zorvane::AtspiScale {

// One application's coordinates, as root pixels.
struct Mapping {
    double scale = 1;
    // Qt's way: each monitor keeps its top-left corner and is scaled from there. Otherwise the
    // whole root is scaled from its corner (GTK, Chromium).
    bool perMonitor = false;
    std::vector<Rect> monitors; // root pixels, for perMonitor
    Rect window;                // the application's window the mapping was found on, root pixels
    // Where the application's (0, 0) is: a native Wayland client speaks relative to its window.
    Point offset {0, 0};
    // The title of the top-level the window shows, for such a client: each of its top-levels
    // starts at (0, 0), so where they are tells them apart no more.
    std::optional<std::string> title = std::nullopt;

    bool isIdentity() const { return scale == 1 && offset.x == 0 && offset.y == 0; }
    Point toRoot(Point reported) const;
    Point fromRoot(Point root) const;
    Rect toRoot(const Rect& reported) const;
    // Whether a document (a web page) reporting these extents speaks in root pixels although its
    // application is scaled: scaled, it would fall outside the window; unscaled, inside.
    bool documentInRootPixels(const Rect& reported) const;
};

// The application's window as the X server has it, root pixels.
struct WindowPixels {
    Rect client; // what the application draws, without client-side shadows
    Rect frame;  // with the window manager's decorations
    Rect outer;  // the X window itself, shadows included
    // A native Wayland window: the application's coordinates start at the client area's corner,
    // and its top-level is known by this title among the application's others.
    bool windowRelative = false;
    std::optional<std::string> title = std::nullopt;
};

// The mapping for a window the compositor placed, whose application reported `reported` for the
// top-level shown in it: relative to its surface (`outer`) for a native Wayland client, none for
// one under XWayland.
Mapping windowRelative(const WindowPixels& window, const Rect& reported);

// The scales a desktop uses; a ratio within a few percent of one of them is taken for it.
inline constexpr double knownScales[] = {1, 1.25, 1.5, 1.75, 2, 2.25, 2.5, 3, 4};

// The mapping under which one of the application's top-level extents (as reported) matches its
// window in size and place; none when none does (then its coordinates are taken as they come).
// perMonitorToolkit: the application is Qt's, whose way is tried first.
std::optional<Mapping> detect(const std::vector<Rect>& topLevels, const WindowPixels& window, const std::vector<Rect>& monitors,
    bool perMonitorToolkit);

} // namespace zorvane::AtspiScale
