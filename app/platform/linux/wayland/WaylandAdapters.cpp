#include "app/platform/linux/wayland/WaylandAdapters.h"

#include "app/platform/linux/wayland/HelperWindowFeed.h"
#include "app/platform/linux/wayland/SwayWindowFeed.h"

#include <QGuiApplication>
#include <QScreen>

namespace zorvane {

namespace {

class NoWindowList final : public WindowList {
public:
    std::optional<std::vector<WindowInfo>> onScreenWindows() override { return std::nullopt; }
    std::optional<WindowInfo> topmostApplicationWindow(Point, ProcessID) override { return std::nullopt; }
};

} // namespace

WaylandAdapters WaylandAdapters::create(std::shared_ptr<Clock> clock, const std::filesystem::path& resources)
{
    WaylandAdapters a;
    a.desktop = wayland::currentDesktop();
    a.screens = std::make_shared<WaylandScreens>();
    a.windowList = std::make_shared<NoWindowList>();
    a.eventMonitors = std::make_shared<WaylandEventMonitors>(clock);
    const auto primaryCorner = [] {
        const QScreen* primary = QGuiApplication::primaryScreen();
        const QPoint corner = primary ? primary->geometry().topLeft() : QPoint();
        return Point {double(corner.x()), double(corner.y())};
    };
    if (a.desktop == wayland::Desktop::kde && !resources.empty()) {
        auto windows = std::make_shared<CompositorWindows>(primaryCorner, nullptr);
        if (auto feed = HelperWindowFeed::start(QStringLiteral("org.kde.KWin"), resources / "kwin" / "zorvane-windows.js", windows,
                a.eventMonitors, clock)) {
            a.windowFeed = std::shared_ptr<HelperWindowFeed>(std::move(feed));
            a.windowList = a.compositorWindows = windows;
        }
    }
    if (a.desktop == wayland::Desktop::gnome) {
        // Our extension reports once the user installed it and logged in again; until then the
        // list stays unknown.
        auto windows = std::make_shared<CompositorWindows>(primaryCorner, nullptr);
        if (auto feed = HelperWindowFeed::start(QStringLiteral("org.gnome.Shell"), {}, windows, a.eventMonitors, clock)) {
            a.windowFeed = std::shared_ptr<HelperWindowFeed>(std::move(feed));
            a.windowList = a.compositorWindows = windows;
        }
    }
    if (a.desktop == wayland::Desktop::wlroots) {
        auto feed = std::make_shared<std::weak_ptr<SwayWindowFeed>>();
        auto windows = std::make_shared<CompositorWindows>(primaryCorner,
            [feed] {
                if (auto f = feed->lock()) f->refresh();
            });
        if (auto started = SwayWindowFeed::start(SwayWindowFeed::socketFromEnvironment(), windows)) {
            *feed = started;
            a.windowFeed = started;
            a.windowList = a.compositorWindows = windows;
        }
    }
    a.windowImages = std::make_shared<WaylandWindowImages>();
    a.overlayPanels = std::make_shared<WaylandOverlayPanels>(std::make_shared<WaylandDesktopCapture>(a.desktop), a.windowImages);
    a.isCaptureAllowed = [desktop = a.desktop] { return WaylandDesktopCapture::isCaptureAllowed(desktop); };
    return a;
}

} // namespace zorvane
