#include "app/platform/linux/wayland/WaylandAdapters.h"

namespace zorvane {

namespace {

class NoWindowList final : public WindowList {
public:
    std::optional<std::vector<WindowInfo>> onScreenWindows() override { return std::nullopt; }
    std::optional<WindowInfo> topmostApplicationWindow(Point, ProcessID) override { return std::nullopt; }
};

} // namespace

WaylandAdapters WaylandAdapters::create(std::shared_ptr<Clock> clock)
{
    WaylandAdapters a;
    a.desktop = wayland::currentDesktop();
    a.screens = std::make_shared<WaylandScreens>();
    a.windowList = std::make_shared<NoWindowList>();
    a.windowImages = std::make_shared<WaylandWindowImages>();
    a.overlayPanels = std::make_shared<WaylandOverlayPanels>(std::make_shared<WaylandDesktopCapture>(a.desktop), a.windowImages);
    a.eventMonitors = std::make_shared<WaylandEventMonitors>(std::move(clock));
    a.isCaptureAllowed = [desktop = a.desktop] { return WaylandDesktopCapture::isCaptureAllowed(desktop); };
    return a;
}

} // namespace zorvane
