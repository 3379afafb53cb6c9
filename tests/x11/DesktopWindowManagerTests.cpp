// The X11 window list, screens and capture beside a window manager (openbox).
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"

#include <algorithm>

// Xlib last: its macros clash with the names above.
#include "tests/x11/TestWindows.h"

namespace zorvane::testing {
namespace {

class DesktopWithWindowManager : public DesktopSuite<true> {
protected:
    // The client's own area in root coordinates.
    static Rect clientRect(Window window)
    {
        int x = 0, y = 0;
        Window child;
        XWindowAttributes attributes;
        XGetWindowAttributes(display, window, &attributes);
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
        return Rect(x, y, attributes.width, attributes.height);
    }
    // Asks the window manager to stack the window on top (or at the bottom), as a pager would.
    static void restack(Window window, bool onTop)
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = x11::atom(display, "_NET_RESTACK_WINDOW");
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;
        event.xclient.data.l[2] = onTop ? Above : Below;
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(display, False);
    }
    static bool stackedAbove(Window upper, Window lower)
    {
        auto stacking = x11::readWindows(display, DefaultRootWindow(display), "_NET_CLIENT_LIST_STACKING");
        if (!stacking) return false;
        const auto u = std::find(stacking->begin(), stacking->end(), upper);
        const auto l = std::find(stacking->begin(), stacking->end(), lower);
        return u != stacking->end() && l != stacking->end() && u > l;
    }
};

TEST_F(DesktopWithWindowManager, ListsFramedWindowsFrontToBackOnTheirLayers)
{
    auto list = X11WindowList::create();
    auto screens = X11Screens::create();
    ASSERT_TRUE(list && screens);
    const ProcessID self = getpid();
    ColouredWindow red(display, "red", 0xff0000, 100, 100, 300, 200);
    ColouredWindow green(display, "green", 0x00ff00, 200, 150, 300, 200, {.setPID = false});
    ColouredWindow floating(display, "floating", 0xffff00, 900, 100, 100, 100,
        {.states = {"_NET_WM_STATE_ABOVE"}});
    // A panel along the bottom of the left monitor.
    ColouredWindow dock(display, "dock", 0x303030, 0, 860, 1440, 40,
        {.type = "_NET_WM_WINDOW_TYPE_DOCK", .strutPartial = {0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 1439}});
    ColouredWindow minimised(display, "minimised", 0xffffff, 600, 100, 100, 100);
    ASSERT_TRUE(eventually([&] {
        return red.framed() && green.framed() && floating.framed() && dock.viewable() && minimised.framed();
    }));
    XIconifyWindow(display, minimised.id(), DefaultScreen(display));
    XSync(display, False);
    ASSERT_TRUE(eventually([&] { return !minimised.viewable(); }));
    restack(green.id(), true);
    ASSERT_TRUE(eventually([&] { return stackedAbove(green.id(), red.id()); }));

    const Rect greenClient = clientRect(green.id());
    auto windows = list->onScreenWindows();
    ASSERT_TRUE(windows);
    std::vector<WindowInfo> ordinary;
    for (const auto& w : *windows)
        if (w.layer == 0) ordinary.push_back(w);
    // Green and red: the minimised window is not on the screen.
    ASSERT_EQ(ordinary.size(), 2u);
    // Green in front, framed: its bounds hold its decorations around the client area.
    const Rect greenFrame = *ordinary[0].bounds;
    EXPECT_EQ(ordinary[0].ownerPID, self) << "the owner of a window without _NET_WM_PID";
    EXPECT_LT(greenFrame.minY(), greenClient.minY());
    EXPECT_EQ(greenFrame.intersection(greenClient), greenClient);
    EXPECT_TRUE(ordinary[1].bounds->contains({110, 110 + (greenClient.minY() - 150)}));
    auto layerOf = [&](Rect near) -> std::optional<int> {
        for (const auto& w : *windows)
            if (w.bounds->contains(near.origin)) return w.layer;
        return std::nullopt;
    };
    EXPECT_EQ(layerOf(Rect(950, 150, 1, 1)), X11WindowLayer::floating);
    EXPECT_EQ(layerOf(Rect(700, 880, 1, 1)), X11WindowLayer::dock);

    // The title bar belongs to the window.
    auto hit = list->topmostApplicationWindow({greenFrame.midX(), greenFrame.minY() + 2}, 0);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->bounds, greenFrame);
    // Raised and lowered through the window manager.
    const Point overlap {greenFrame.minX() + 20, greenClient.minY() + 20};
    restack(red.id(), true);
    ASSERT_TRUE(eventually([&] { return stackedAbove(red.id(), green.id()); }));
    EXPECT_NE(list->topmostApplicationWindow(overlap, 0)->bounds, greenFrame);
    restack(red.id(), false);
    ASSERT_TRUE(eventually([&] { return list->topmostApplicationWindow(overlap, 0)->bounds == greenFrame; }));

    // The panel is left out of the left monitor's visible frame only.
    const auto described = screens->screens();
    ASSERT_EQ(described.size(), 2u);
    EXPECT_EQ(described[0].visibleFrame, Rect(0, 40, 1440, 860));
    EXPECT_EQ(described[1].visibleFrame, described[1].appKitFrame);
}

TEST_F(DesktopWithWindowManager, CaptureBelowAFramedWindowLeavesOutItsFrameAndWhatIsAbove)
{
    auto images = X11WindowImages::create();
    ASSERT_TRUE(images);
    ColouredWindow red(display, "red", 0xff0000, 1500, 100, 600, 500);
    ColouredWindow green(display, "green", 0x00ff00, 1600, 200, 300, 200);
    ColouredWindow blue(display, "blue", 0x0000ff, 1700, 300, 300, 200);
    ASSERT_TRUE(eventually([&] { return red.framed() && green.framed() && blue.framed(); }));
    restack(blue.id(), true);
    ASSERT_TRUE(eventually([&] { return stackedAbove(blue.id(), green.id()); }));
    const Rect greenClient = clientRect(green.id());
    const Rect redClient = clientRect(red.id());

    // Around green, title bar included.
    const Rect area(greenClient.minX() - 10, greenClient.minY() - 30, 340, 260);
    auto everything = images->compositeImage(area, std::nullopt);
    auto below = images->compositeImage(area, green.id());
    ASSERT_TRUE(everything && below);
    auto at = [&](const WindowImage& image, double x, double y) {
        return pixelAt(image, static_cast<std::uint32_t>(x - area.minX()), static_cast<std::uint32_t>(y - area.minY()));
    };
    const double x = greenClient.minX() + 5, y = greenClient.minY() + 5;
    EXPECT_EQ(at(*everything, x, y), 0x00ff00u);
    EXPECT_EQ(at(*below, x, y), 0xff0000u);
    // Green's title bar is gone too: red shows through it.
    ASSERT_TRUE(redClient.contains({x, greenClient.minY() - 5}));
    EXPECT_NE(at(*everything, x, greenClient.minY() - 5), 0xff0000u);
    EXPECT_EQ(at(*below, x, greenClient.minY() - 5), 0xff0000u);
    // Blue, above green, is gone.
    const Rect blueClient = clientRect(blue.id());
    const double bx = greenClient.maxX() + 10, by = blueClient.minY() + 80;
    ASSERT_TRUE(area.contains({bx, by}) && !greenClient.contains({bx, by}));
    EXPECT_EQ(at(*everything, bx, by), 0x0000ffu);
    EXPECT_EQ(at(*below, bx, by), 0xff0000u);
}

} // namespace
} // namespace zorvane::testing
