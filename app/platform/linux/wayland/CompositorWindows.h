#pragma once

#include "app/core/Geometry.h"
#include "app/platform/WindowList.h"
#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"

#include <QByteArray>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zorvane {

// A top-level window as the compositor describes it, in its layout's logical coordinates.
struct CompositorWindow {
    ProcessID pid = 0;
    std::string title;
    std::string appID; // Wayland's app_id, or X11's class under XWayland
    Rect client;       // what the application draws, without decorations
    // Its whole surface, shadows included: where a native client's (0, 0) is. The client area
    // when the compositor does not say.
    std::optional<Rect> surface;
    bool active = false;
    // A native Wayland client: its accessibility tree speaks coordinates relative to the client
    // area. XWayland's clients speak the layout's, as on X11.
    bool windowRelative = true;
};

namespace compositor_windows {

// The windows a person sees in sway's `get_tree` answer, front to back; none when it is no tree.
// Windows under a fullscreen one (our overlay, say) still count: sway calls them invisible.
std::optional<std::vector<CompositorWindow>> fromSwayTree(const QByteArray& json);

// The frontmost window holding the point whose owner is known and not excluded.
const CompositorWindow* at(const std::vector<CompositorWindow>& frontToBack, Point layout, ProcessID excluded);

} // namespace compositor_windows

// The latest window list a compositor helper reported, for the core (as its WindowList), the
// element lookup (the window origin of each application) and the frontmost application. Read on
// the main thread on every pointer move, so it never waits for the compositor: feeds publish from
// their own thread or the event loop, and a reader that finds the list old asks them for a new one.
class CompositorWindows final : public WindowList {
public:
    // layoutOrigin: where the core's point (0, 0) is in the compositor's layout (the primary
    // screen's corner). wantFresh: called, at most every 200 ms, when a reader found the list old.
    CompositorWindows(std::function<Point()> layoutOrigin, std::function<void()> wantFresh);

    void publish(std::vector<CompositorWindow> frontToBack);
    // No feed: whatever was reported is forgotten, so nothing stale is trusted.
    void forget();
    bool known() const;

    std::optional<std::vector<WindowInfo>> onScreenWindows() override;
    std::optional<WindowInfo> topmostApplicationWindow(Point quartzPoint, ProcessID excludedPID) override;
    std::optional<CompositorWindow> active();

    // What the accessibility adapter needs to find a native application's elements where they are.
    RootCoordinates rootCoordinates(ProcessID ownPID);

private:
    std::optional<std::vector<CompositorWindow>> read();

    std::function<Point()> layoutOrigin_;
    std::function<void()> wantFresh_;
    mutable std::mutex mutex_;
    std::optional<std::vector<CompositorWindow>> windows_;
    std::chrono::steady_clock::time_point publishedAt_, askedAt_;
};

} // namespace zorvane
