// The X11 adapters on a private two-monitor desktop: the screens, window list and capture bare
// first, then with a window manager (openbox) as most users have one; then global input, the
// overlay's keyboard and the workspace's openers, the pointer and keys coming through XTest from
// another client. (The overlay and the shake are walked through in the whole program,
// tests/e2e_desktop.)
#include "app/core/SystemClock.h"
#include "app/platform/linux/desktop/X11Workspace.h"
#include "app/platform/linux/x11/X11EventMonitors.h"
#include "app/platform/linux/x11/X11OverlayPanels.h"
#include "app/platform/linux/x11/X11ScreenRecording.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"
#include "app/selection/ScreenCaptureService.h"
#include "app/ui/QtMainQueue.h"
#include "tests/fakes/FakeSystem.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/X11Client.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>
#include <png.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

// Xlib last: its macros clash with the names above.
#include "app/platform/linux/x11/X11Support.h"

namespace zorvane::testing {
namespace {

// 0xRRGGBB of one pixel of a blue-green-red-unused image.
std::uint32_t pixelAt(const WindowImage& image, double x, double y)
{
    const std::uint8_t* p = image.pixels.data() + std::size_t(y) * image.stride + std::size_t(x) * 4;
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

class X11Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session = new DesktopSession({.windowManager = false, .accessibilityBus = false});
        display = XOpenDisplay(nullptr);
    }
    static void TearDownTestSuite()
    {
        monitors.reset();
        queue.reset();
        delete application;
        XCloseDisplay(display);
        delete session;
    }
    // The tests with a window manager come last: it stays once started.
    static void startWindowManager()
    {
        if (!x11::windowManagerCheckWindow(display)) session->startWindowManager();
    }
    static void setXftDpi(const char* dpi)
    {
        const std::string resources = std::string("Xft.dpi:\t") + (dpi ? dpi : "") + "\n";
        if (dpi)
            XChangeProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                reinterpret_cast<const unsigned char*>(resources.data()), int(resources.size()));
        else
            XDeleteProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER);
        XSync(display, False);
    }
    // The client's own area in root coordinates.
    static Rect clientRect(Window window)
    {
        int x = 0, y = 0;
        Window child;
        XWindowAttributes a;
        XGetWindowAttributes(display, window, &a);
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
        return Rect(x, y, a.width, a.height);
    }
    // The application window at the point, or an empty description.
    static WindowInfo hit(WindowList& list, Point at, ProcessID excluded)
    {
        return list.topmostApplicationWindow(at, excluded).value_or(WindowInfo {});
    }

    // Our own Qt application on the desktop, with the global input it watches (made once, under the
    // window manager).
    static void startApplication()
    {
        startWindowManager();
        if (application) return;
        static int argc = 1;
        static char name[] = "x11_integration_tests";
        static char* argv[] = {name, nullptr};
        application = new QApplication(argc, argv);
        queue = std::make_shared<ui::QtMainQueue>();
        monitors = X11EventMonitors::create(queue, clock, X11Screens::create());
    }
    // Runs Qt's events until the condition holds or the time is up.
    static bool pumpUntil(double seconds, const std::function<bool()>& condition)
    {
        return waitUntil(seconds, [&] {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return condition();
        });
    }
    static void settle(double seconds) { pumpUntil(seconds, [] { return false; }); }

    static inline DesktopSession* session = nullptr;
    static inline Display* display = nullptr;
    static inline QApplication* application = nullptr;
    static inline std::shared_ptr<ui::QtMainQueue> queue;
    static inline std::shared_ptr<SystemClock> clock = std::make_shared<SystemClock>();
    static inline std::shared_ptr<X11EventMonitors> monitors;
    ScopedEnvironment environment;
};

TEST_F(X11Desktop, MonitorsComeInOrderAtTheScaleQtGivesOurWindows)
{
    struct Case {
        const char* xftDpi;
        std::map<std::string, std::string> environment;
    };
    const Case cases[] = {{nullptr, {}}, {"192", {}}, {"144", {}}, {"72", {}},
        {nullptr, {{"QT_SCREEN_SCALE_FACTORS", "RIGHT=2"}}}, {"120", {{"QT_SCALE_FACTOR_ROUNDING_POLICY", "Round"}}},
        {"192", {{"QT_SCALE_FACTOR", "1.5"}, {"QT_SCREEN_SCALE_FACTORS", "RIGHT=1"}}},
        {"192", {{"QT_SCREEN_SCALE_FACTORS", "RIGHT=1;LEFT=1.5"}}}, {"192", {{"QT_ENABLE_HIGHDPI_SCALING", "0"}}}};
    auto screens = X11Screens::create();
    ASSERT_TRUE(screens);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("Xft.dpi ") + (c.xftDpi ? c.xftDpi : "unset") + " "
            + (c.environment.empty() ? "" : c.environment.begin()->second));
        setXftDpi(c.xftDpi);
        ScopedEnvironment variables;
        for (const auto& [name, value] : c.environment) variables.set(name, value);
        // Qt's own view, from a probe program: "name scale x y width height" per screen, primary first.
        std::string printed;
        session->processes().run(
            {"env", "TSAN_OPTIONS=report_bugs=0", "ASAN_OPTIONS=detect_leaks=0", ZORVANE_QT_SCREENS_PROBE}, 30, &printed);
        std::istringstream qt(printed);
        const auto layout = screens->layout();
        const auto described = screens->screens();
        ASSERT_EQ(std::make_pair(layout.monitors().size(), described.size()), std::make_pair(2ul, 2ul));
        EXPECT_EQ(layout.monitors()[0].name, "LEFT");
        for (std::size_t i = 0; i < 2; ++i) {
            std::string name;
            double scale = 0, x = 0, y = 0, w = 0, h = 0;
            ASSERT_TRUE(qt >> name >> scale >> x >> y >> w >> h) << printed;
            EXPECT_EQ(layout.monitors()[i].name, name);
            EXPECT_DOUBLE_EQ(layout.monitors()[i].scale, scale);
            // Qt's origin is the root's; ours the primary's, which is at the root's origin here.
            EXPECT_EQ(described[i].quartzBounds, Rect(x, y, w, h));
        }
    }
    setXftDpi(nullptr);
}

TEST_F(X11Desktop, VisibleFramesLeaveOutADockOnlyOnItsOwnMonitor)
{
    environment.set("QT_SCREEN_SCALE_FACTORS", "RIGHT=2");
    auto screens = X11Screens::create();
    ASSERT_TRUE(screens);
    {
        // A 30-pixel panel along the top of the right monitor only.
        ColouredWindow dock(display, "panel", 0x303030, 1440, 0, 1440, 30,
            {.type = "_NET_WM_WINDOW_TYPE_DOCK", .strutPartial = {0, 0, 30, 0, 0, 0, 0, 0, 1440, 2879, 0, 0}});
        ASSERT_TRUE(waitUntil(5, [&] { return dock.viewable(); }));
        const auto described = screens->screens();
        ASSERT_EQ(described.size(), 2u);
        EXPECT_EQ(described[0].visibleFrame, Rect(0, 0, 1440, 900));
        // Flipped against the primary's height: the right monitor's top edge is level with the left's.
        EXPECT_EQ(described[1].appKitFrame, Rect(1440, 450, 720, 450));
        // 30 pixels at 2× are 15 points off the top.
        EXPECT_EQ(described[1].visibleFrame, Rect(1440, 450, 720, 435));
    }
    // Read afresh: the panel has gone.
    EXPECT_EQ(screens->screens()[1].visibleFrame, Rect(1440, 450, 720, 450));
}

// Without a window manager (stacking order, owners and frames under one are the last test's).
TEST_F(X11Desktop, OurOverlayAndTheDesktopAreNoApplicationWindowsAndTheCaptureAfterASelectionLeavesOutOurPanel)
{
    auto list = X11WindowList::create();
    auto images = std::shared_ptr<X11WindowImages>(X11WindowImages::create());
    ASSERT_TRUE(list && images);
    ASSERT_TRUE(X11ScreenRecording::isGranted());
    ColouredWindow desktop(display, "desktop", 0x101010, 0, 0, 1440, 900, {.type = "_NET_WM_WINDOW_TYPE_DESKTOP"});
    ColouredWindow red(display, "red", 0xff0000, 100, 100, 300, 200);
    ColouredWindow green(display, "green", 0x00ff00, 200, 150, 300, 200);
    ColouredWindow overlay(display, "overlay", 0x0000ff, 250, 200, 50, 50, {.overrideRedirect = true});
    ASSERT_TRUE(waitUntil(5, [&] { return red.viewable() && green.viewable() && overlay.viewable(); }));
    const ProcessID self = getpid();

    // Front to back: our overlay (not an application window), green, red; the desktop window is
    // not listed.
    auto windows = list->onScreenWindows();
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 3u);
    EXPECT_EQ((*windows)[0].bounds, Rect(250, 200, 50, 50));
    EXPECT_NE((*windows)[0].layer, 0);
    EXPECT_EQ((*windows)[1].bounds, Rect(200, 150, 300, 200));
    EXPECT_EQ((*windows)[2].bounds, Rect(100, 100, 300, 200));
    // Under the overlay, green is in front; leaving ourselves out, nothing.
    EXPECT_EQ(hit(*list, {260, 210}, 0).bounds, Rect(200, 150, 300, 200));
    EXPECT_FALSE(list->topmostApplicationWindow({260, 210}, self));
    EXPECT_FALSE(list->topmostApplicationWindow({1000, 800}, 0)) << "only the desktop is there";

    // As after a selection: the desktop pictured, then our panel shows over the area; the capture
    // below the panel is cut from the picture, which serves once. Without it, no image that would
    // show the panel. A window that has closed leaves nothing out.
    Window gone;
    {
        ColouredWindow closed(display, "closed", 0xffffff, 0, 0, 10, 10);
        gone = closed.id();
    }
    const Rect area(100, 100, 400, 300);
    ASSERT_TRUE(images->holdSnapshot());
    ColouredWindow panel(display, "panel", 0xffffff, 110, 250, 100, 40);
    ASSERT_TRUE(waitUntil(5, [&] { return panel.viewable(); }));
    auto below = images->compositeImage(area, panel.id());
    auto all = images->compositeImage(area, std::nullopt);
    auto belowGone = images->compositeImage(area, gone);
    ASSERT_TRUE(all && below && belowGone);
    EXPECT_FALSE(images->compositeImage(area, panel.id()));
    ASSERT_EQ(std::make_pair(all->width, below->height), std::make_pair(400u, 300u));
    struct Probe {
        double x, y;
        std::uint32_t everything, belowPanel;
    };
    for (const Probe& p : {Probe {10, 10, 0xff0000, 0xff0000}, // only red
             Probe {50, 170, 0xffffff, 0xff0000},                // our panel, over red
             Probe {120, 80, 0x00ff00, 0x00ff00},                // green over red
             Probe {160, 110, 0x0000ff, 0x0000ff},               // our overlay over green over red
             Probe {20, 250, 0x101010, 0x101010}}) {             // the desktop
        SCOPED_TRACE(::testing::Message() << "at " << p.x << "," << p.y);
        EXPECT_EQ(pixelAt(*all, p.x, p.y), p.everything);
        EXPECT_EQ(pixelAt(*below, p.x, p.y), p.belowPanel);
        EXPECT_EQ(pixelAt(*belowGone, p.x, p.y), p.everything);
    }

    // A client-side decorated window draws its own shadow: the shadow is not the window.
    ColouredWindow shadowed(display, "shadowed", 0xffffff, 600, 500, 200, 200);
    const unsigned long shadow[] = {20, 20, 10, 30};
    XChangeProperty(display, shadowed.id(), x11::atom(display, "_GTK_FRAME_EXTENTS"), XA_CARDINAL, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(shadow), 4);
    XSync(display, False);
    EXPECT_EQ(hit(*list, {700, 600}, 0).bounds, Rect(620, 510, 160, 160));
    EXPECT_FALSE(list->topmostApplicationWindow({605, 505}, 0));
    EXPECT_EQ(list->onScreenWindows()->front().bounds, Rect(620, 510, 160, 160));

    // On the 2× monitor the PNG codex gets has twice the pixels, in the window's colour.
    environment.set("QT_SCREEN_SCALE_FACTORS", "RIGHT=2");
    ColouredWindow magenta(display, "magenta", 0xff00ff, 1600, 100, 200, 100);
    ASSERT_TRUE(waitUntil(5, [&] { return magenta.viewable(); }));
    XLowerWindow(display, magenta.id());
    XSync(display, False);
    auto permissions = std::make_shared<fakes::FakePermissions>();
    permissions->screenRecording = true;
    const auto png = ScreenCaptureService(permissions, images).capture(Rect(1520, 50, 100, 50), green.id());
    png_image decoded {};
    decoded.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&decoded, png.data(), png.size()));
    decoded.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(decoded));
    ASSERT_TRUE(png_image_finish_read(&decoded, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(std::make_pair(decoded.width, decoded.height), std::make_pair(200u, 100u));
    EXPECT_EQ(std::vector<std::uint8_t>(rgb.begin(), rgb.begin() + 3), (std::vector<std::uint8_t> {0xff, 0, 0xff}));
    EXPECT_EQ(std::vector<std::uint8_t>(rgb.end() - 3, rgb.end()), (std::vector<std::uint8_t> {0xff, 0, 0xff}));
}

TEST_F(X11Desktop, UnderAWindowManagerFramedWindowsComeFrontToBackWithTheirTitleBars)
{
    startWindowManager();
    auto list = X11WindowList::create();
    auto screens = X11Screens::create();
    ASSERT_TRUE(list && screens);
    ColouredWindow red(display, "red", 0xff0000, 1500, 100, 600, 500);
    ColouredWindow green(display, "green", 0x00ff00, 1600, 200, 300, 200, {.setPID = false});
    ColouredWindow blue(display, "blue", 0x0000ff, 1700, 300, 300, 200);
    ColouredWindow floating(display, "floating", 0xffff00, 900, 100, 100, 100, {.states = {"_NET_WM_STATE_ABOVE"}});
    // A panel along the bottom of the left monitor.
    ColouredWindow dock(display, "dock", 0x303030, 0, 860, 1440, 40,
        {.type = "_NET_WM_WINDOW_TYPE_DOCK", .strutPartial = {0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 1439}});
    ColouredWindow minimised(display, "minimised", 0xffffff, 600, 100, 100, 100);
    ASSERT_TRUE(waitUntil(10, [&] {
        return red.framed() && green.framed() && blue.framed() && floating.framed() && dock.viewable() && minimised.framed();
    }));
    XIconifyWindow(display, minimised.id(), DefaultScreen(display));
    XRaiseWindow(display, green.id());
    XRaiseWindow(display, blue.id());
    XSync(display, False);

    // Once openbox has settled: blue, green, red (the minimised window is not on the screen), and
    // green's bounds hold its title bar above its client area.
    Rect greenClient, greenFrame;
    std::vector<WindowInfo> windows, ordinary;
    const bool settled = waitUntil(10, [&] {
        greenClient = clientRect(green.id());
        windows = list->onScreenWindows().value_or(std::vector<WindowInfo> {});
        ordinary.clear();
        std::copy_if(windows.begin(), windows.end(), std::back_inserter(ordinary), [](auto& w) { return w.layer == 0; });
        if (ordinary.size() != 3) return false;
        greenFrame = *ordinary[1].bounds;
        return greenFrame.minY() < greenClient.minY() && greenFrame.intersection(greenClient) == greenClient
            && ordinary[0].bounds->contains({1800, 450}) && ordinary[2].bounds->contains({1550, 150});
    });
    ASSERT_TRUE(settled) << ordinary.size() << " windows; the middle one at " << greenFrame.minX() << ","
                         << greenFrame.minY() << "; green's client area at " << greenClient.minX() << "," << greenClient.minY();
    EXPECT_EQ(ordinary[1].ownerPID, getpid()) << "the owner of a window without _NET_WM_PID";
    const auto layerAt = [&](Point p) {
        const auto w = std::find_if(windows.begin(), windows.end(), [&](auto& w) { return w.bounds->contains(p); });
        return w == windows.end() ? std::nullopt : w->layer;
    };
    EXPECT_EQ(layerAt({950, 150}), X11WindowLayer::floating);
    EXPECT_EQ(layerAt({700, 880}), X11WindowLayer::dock);
    // The panel is left out of the left monitor's visible frame only.
    EXPECT_EQ(screens->screens().at(0).visibleFrame, Rect(0, 40, 1440, 860));
    EXPECT_EQ(screens->screens().at(1).visibleFrame, screens->screens().at(1).appKitFrame);

    // The title bar belongs to the window; raised and lowered, it is found in front or behind.
    EXPECT_EQ(hit(*list, {greenFrame.midX() - 50, greenFrame.minY() + 2}, 0).bounds, greenFrame);
    const Point overlap {greenFrame.minX() + 20, greenClient.minY() + 20};
    XRaiseWindow(display, red.id());
    XSync(display, False);
    EXPECT_TRUE(waitUntil(5, [&] { return hit(*list, overlap, 0).bounds != greenFrame; }));
    XLowerWindow(display, red.id());
    XSync(display, False);
    EXPECT_TRUE(waitUntil(5, [&] { return hit(*list, overlap, 0).bounds == greenFrame; }));

    // Another program's window belongs to that program, not to us.
    const pid_t other = session->spawn({"xmessage", "-geometry", "120x60+300+500", "-title", "other", "other"});
    std::optional<ProcessID> owner;
    EXPECT_TRUE(waitUntil(10, [&] { return (owner = hit(*list, {360, 530}, 0).ownerPID) == other; })) << owner.value_or(0);
    session->stop(other);
}

TEST_F(X11Desktop, PointerAndKeysReachTheMonitorsOfTheWindowTheyConcern)
{
    startApplication();
    X11Client x;
    ASSERT_TRUE(monitors->watchesRawInput());
    const ColouredWindow other(x.display(), "other application", 0xff0000, 100, 100, 500, 400);
    ASSERT_TRUE(waitUntil(5, [&] { return other.framed(); }));
    class OurWindow final : public QWidget {
    public:
        int escapes = 0;

    protected:
        void keyPressEvent(QKeyEvent* event) override { escapes += event->key() == Qt::Key_Escape; }
    } ours;
    ours.setWindowTitle("ours");
    ours.setGeometry(800, 200, 300, 200);
    ours.show();
    ASSERT_TRUE(session->waitForWindow("ours"));

    std::vector<PointerMovement> global, local;
    std::vector<int> keys, localKeys;
    int selfRemoving = 0;
    const MonitorToken g = monitors->addGlobalPointerMovedMonitor([&](const PointerMovement& m) { global.push_back(m); });
    const MonitorToken l = monitors->addLocalPointerMovedMonitor([&](const PointerMovement& m) { local.push_back(m); });
    const MonitorToken k = monitors->addGlobalKeyDownMonitor([&](const KeyEvent& e) { keys.push_back(e.keyCode); });
    MonitorToken once = 0;
    once = monitors->addGlobalPointerMovedMonitor([&](const PointerMovement&) {
        ++selfRemoving;
        monitors->removeMonitor(once);
    });
    // From a warp (no raw events) at `from`, five steps; what the monitors heard of them.
    const auto moves = [&](int fromX, int fromY, int dx, int dy, bool dragging = false) {
        x.warp(fromX, fromY);
        if (dragging) x.button(true);
        settle(0.2);
        global.clear();
        local.clear();
        for (int i = 0; i < 5; ++i) x.moveBy(dx, dy);
    };

    // Over another application: the global monitors get every movement, at the pointer's place.
    const double before = clock->uptime();
    moves(300, 300, 10, 5);
    ASSERT_TRUE(pumpUntil(10, [&] { return !global.empty() && global.back().location == Point {350, 325}; }));
    EXPECT_GE(global.back().uptime, before);
    EXPECT_LE(global.back().uptime, clock->uptime());
    EXPECT_TRUE(local.empty());
    EXPECT_EQ(selfRemoving, 1);
    // A drag is not a plain movement.
    moves(300, 300, 20, 0, true);
    settle(0.3);
    x.button(false);
    EXPECT_TRUE(global.empty());
    // Over our own window: only the local monitor.
    moves(900, 300, 5, 5);
    ASSERT_TRUE(pumpUntil(10, [&] { return !local.empty() && local.back().location == Point {925, 325}; }));
    EXPECT_TRUE(global.empty());

    // Escape typed into the other application: seen globally, and the application still gets it.
    x.focus(other.id());
    x.typeKey("Escape");
    EXPECT_TRUE(pumpUntil(10, [&] { return keys == std::vector<int> {KeyEvent::escape}; }));
    EXPECT_TRUE(x.receivedKeyPress(other.id(), "Escape"));
    // Escape typed into our own window: the local monitor swallows it, the global one never sees it.
    keys.clear();
    const MonitorToken lk = monitors->addLocalKeyDownMonitor([&](const KeyEvent& e) {
        localKeys.push_back(e.keyCode);
        return true;
    });
    x.focus(ours.winId());
    ASSERT_TRUE(pumpUntil(10, [&] { return ours.isActiveWindow(); }));
    x.typeKey("Escape");
    EXPECT_TRUE(pumpUntil(10, [&] { return localKeys == std::vector<int> {KeyEvent::escape}; }));
    monitors->removeMonitor(lk);
    x.typeKey("Escape");
    EXPECT_TRUE(pumpUntil(10, [&] { return ours.escapes == 1; }));
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(localKeys.size(), 1u);

    // Removed monitors hear nothing more.
    x.focus(other.id());
    for (const MonitorToken token : {g, l, k}) monitors->removeMonitor(token);
    moves(300, 300, 10, 0);
    x.typeKey("Escape");
    settle(0.3);
    EXPECT_TRUE(global.empty());
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(selfRemoving, 1);
}

TEST_F(X11Desktop, TheOverlayTakesTheKeyboardOnceAnotherClientLetsGoAndGivesItBackAndShowsNothingOverALockedScreen)
{
    startApplication();
    X11Client x, holder;
    const ColouredWindow other(x.display(), "typing here", 0xffffff, 100, 100, 400, 300);
    ASSERT_TRUE(waitUntil(5, [&] { return other.framed(); }));
    X11OverlayPanels panels(std::shared_ptr<WindowImages>(X11WindowImages::create()));
    session->processes().run({"xset", "s", "activate"}, 5);
    EXPECT_TRUE(panels.screenLocked()) << "the screen saver is on";
    session->processes().run({"xset", "s", "reset"}, 5);
    EXPECT_FALSE(panels.screenLocked());

    // A shortcut's keys still held: another client has the keyboard when the panel shows.
    ASSERT_EQ(XGrabKeyboard(holder.display(), DefaultRootWindow(holder.display()), False, GrabModeAsync, GrabModeAsync, CurrentTime),
        GrabSuccess);
    XSync(holder.display(), False);
    std::vector<KeyEvent> keys;
    OverlayPanelHandlers handlers;
    handlers.onKeyDown = [&](const KeyEvent& k) { keys.push_back(k); };
    auto panel = panels.showPanel(X11Screens::create()->screens().front(), handlers);
    settle(0.2);
    XUngrabKeyboard(holder.display(), CurrentTime);
    XSync(holder.display(), False);
    ASSERT_TRUE(pumpUntil(5, [&] { return !x.keyboardFree(); })) << "the overlay never took the keyboard";
    x.focus(other.id());
    x.typeKey("Tab");
    x.typeKey("Escape");
    EXPECT_TRUE(pumpUntil(5, [&] { return keys.size() == 2; }));
    EXPECT_EQ(keys.size() == 2 ? std::make_pair(keys[0].keyCode, keys[1].keyCode) : std::pair(0, 0),
        std::make_pair(KeyEvent::tab, KeyEvent::escape));
    // Off the screen, the keyboard is given back: the application gets the next key, and had none before.
    panel->orderOut();
    EXPECT_TRUE(pumpUntil(5, [&] { return x.keyboardFree(); })) << "the keyboard was not given back";
    x.typeKey("a");
    int before = 0;
    EXPECT_TRUE(x.receivedKeyPress(other.id(), "a", 5, &before));
    EXPECT_EQ(before, 0) << "keys typed during the selection reached the application";
    panels.overlayClosed(false);
}

TEST_F(X11Desktop, UrlsFilesAndSettingsPagesOpenThroughTheDesktopsTools)
{
    startApplication();
    // Stand-ins for the desktop's programs come first on the PATH; each writes its arguments, one
    // per line, to <name>.called.
    const auto bin = session->home() / "bin";
    std::filesystem::create_directories(bin);
    for (const char* tool : {"xdg-open", "gnome-control-center", "fake-chromium"}) {
        const std::string script = (bin / tool).string();
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << script << ".part'\nmv '" << script << ".part' '"
                              << script << ".called'\n";
        ::chmod(script.c_str(), 0755);
    }
    environment.set("PATH", bin.string() + ":" + std::getenv("PATH"));
    // The arguments a stand-in was called with, once it has run.
    const auto calledWith = [&](const std::string& tool, double seconds = 5) -> std::optional<std::vector<std::string>> {
        const auto record = bin / (tool + ".called");
        if (!pumpUntil(seconds, [&] { return std::filesystem::exists(record); })) return std::nullopt;
        std::ifstream in(record);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        std::filesystem::remove(record);
        return lines;
    };
    X11Workspace workspace;
    EXPECT_TRUE(workspace.openURL("https://example.org/a b?q=1&r=2"));
    EXPECT_EQ(calledWith("xdg-open"), std::vector<std::string> {"https://example.org/a b?q=1&r=2"});

    // A browser through its launcher entry, with the entry's own quoting and field codes.
    const auto applications = session->home() / ".local/share/applications";
    std::filesystem::create_directories(applications);
    std::ofstream(applications / "chromium.desktop") << "[Desktop Entry]\nType=Application\nName=Chromium\nExec="
        << (bin / "fake-chromium").string() << " \"--class=a b\" --icon %i %U\n[Desktop Action new]\nExec=wrong\n";
    EXPECT_TRUE(workspace.isApplicationInstalled("org.chromium.Chromium"));
    EXPECT_FALSE(workspace.isApplicationInstalled("com.microsoft.edgemac"));
    EXPECT_TRUE(workspace.openURLWithApplication("chrome://extensions", "org.chromium.Chromium"));
    EXPECT_EQ(calledWith("fake-chromium"), (std::vector<std::string> {"--class=a b", "--icon", "chrome://extensions"}));
    EXPECT_FALSE(workspace.openURLWithApplication("edge://extensions", "com.microsoft.edgemac"));

    // The privacy panes: the desktop's own page where it has one, nothing otherwise (not xdg-open).
    using Command = std::optional<std::vector<std::string>>;
    const std::string pane = "x-apple.systempreferences:com.apple.preference.security?";
    for (const auto& [desktop, anchor, command] : {std::tuple {"ubuntu:GNOME", "Privacy_Accessibility",
             Command {{"gnome-control-center", "universal-access"}}},
             std::tuple {"GNOME", "Privacy_Microphone", Command {{"gnome-control-center", "sound"}}},
             std::tuple {"KDE", "Privacy_Accessibility", Command {{"systemsettings", "kcm_access"}}},
             std::tuple {"GNOME", "Privacy_ScreenCapture", Command {}}, std::tuple {"XFCE", "Privacy_Accessibility", Command {}}})
        EXPECT_EQ(X11Workspace::settingsCommand(pane + anchor, desktop), command) << desktop << " " << anchor;
    environment.set("XDG_CURRENT_DESKTOP", "GNOME");
    EXPECT_TRUE(workspace.openURL(pane + "Privacy_Accessibility"));
    EXPECT_EQ(calledWith("gnome-control-center"), std::vector<std::string> {"universal-access"});
    EXPECT_FALSE(workspace.openURL(pane + "Privacy_ScreenCapture"));
    EXPECT_FALSE(calledWith("xdg-open", 0.3).has_value()) << "a settings URL reached xdg-open";

    // Revealing a file: its folder opens when no file manager answers.
    const auto folder = session->home() / "Extension folder";
    std::filesystem::create_directories(folder);
    const auto file = folder / "manifest.json";
    std::ofstream(file) << "{}";
    const auto url = [](const std::filesystem::path& p) { return QString::fromStdString("file://" + p.string()).replace(" ", "%20"); };
    EXPECT_TRUE(workspace.revealFile(file));
    EXPECT_EQ(calledWith("xdg-open"), std::vector<std::string> {url(folder).toStdString()});
    EXPECT_FALSE(workspace.revealFile(folder / "missing.json"));
}

} // namespace
} // namespace zorvane::testing
