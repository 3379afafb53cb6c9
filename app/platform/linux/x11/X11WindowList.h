#pragma once

#include "app/platform/WindowList.h"
#include "app/platform/linux/x11/X11Handles.h"
#include "app/platform/linux/x11/X11Screens.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zorvane {

// Layers on the X11 desktop, after the window server levels the core knows: ordinary application
// windows are on 0, "keep below" windows under it, everything kept above on positive layers.
namespace X11WindowLayer {
constexpr int below = -1;
constexpr int normal = 0;
constexpr int floating = 3;       // _NET_WM_STATE_ABOVE
constexpr int dock = 20;          // docks and panels
constexpr int notification = 23;
constexpr int tooltip = 25;
constexpr int popUpMenu = 101;    // menus, and override-redirect windows (menus, overlays, ours)
constexpr int dragAndDrop = 500;
} // namespace X11WindowLayer

// One top-level window in root pixels, with what the list needs to know about it.
struct X11WindowEntry {
    x11::XID window = 0;      // the client window (the top-level itself without a window manager)
    PixelRect frame;          // including the window manager's decorations
    PixelRect client;         // what the client draws, without the shadows GTK draws around it
    PixelRect outer;          // the client's X window, shadows included
    int layer = X11WindowLayer::normal;
    std::optional<ProcessID> ownerPID;
};

// The WindowList port on X11: with an EWMH window manager the stacking order is the manager's
// _NET_CLIENT_LIST_STACKING; without one, the root's children. Viewable override-redirect windows
// (menus, our overlay) are listed in front on a non-zero layer; desktop windows and minimised or
// unmapped ones are not listed. Callable from any thread.
class X11WindowList : public WindowList {
public:
    // None when no X server can be reached.
    static std::unique_ptr<X11WindowList> create(const char* displayName = nullptr);

    std::optional<std::vector<WindowInfo>> onScreenWindows() override;
    // The frontmost layer-0 window whose bounds contain the point and whose owner is known and is not
    // excludedPID. Stops at the first match, reading only what it needs of each window above it.
    std::optional<WindowInfo> topmostApplicationWindow(Point quartzPoint, ProcessID excludedPID) override;

    // The same, for the X11 adapters that work in root pixels (the owner of the window under the
    // pointer, for instance).
    std::optional<X11WindowEntry> topmostApplicationWindowAtPixel(Point rootPixel, std::optional<ProcessID> excludedPID);
    std::optional<std::vector<X11WindowEntry>> entries();

private:
    explicit X11WindowList(x11::DisplayPtr display) : display_(std::move(display)) {}
    // Candidates front to back: override-redirect windows, then the window manager's clients (or
    // the root's other children).
    struct Candidate {
        x11::XID window;
        bool overrideRedirect;
        bool managed; // a window manager's client: frame from _NET_FRAME_EXTENTS
    };
    std::optional<std::vector<Candidate>> candidates();
    // None for windows not listed: desktop elements and minimised windows.
    std::optional<int> layerOf(const Candidate& candidate);
    std::optional<ProcessID> ownerOf(x11::XID window);

    std::mutex mutex_;
    x11::DisplayPtr display_;
    bool windowManager_ = false; // as candidates() last found
};

} // namespace zorvane
