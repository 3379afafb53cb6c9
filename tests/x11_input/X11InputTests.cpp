// Global input and the selection overlay on a private two-monitor desktop.
#include "tests/support/DesktopSession.h"
#include "tests/x11_input/QtTestMainQueue.h"

#include "app/core/Defaults.h"
#include "app/core/SystemClock.h"
#include "app/core/UserDefaults.h"
#include "app/gesture/MotionGestureMonitor.h"
#include "app/platform/linux/x11/X11EventMonitors.h"
#include "app/platform/linux/x11/X11OverlayPanels.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/selection/AccessibilitySelectionService.h"
#include "app/selection/SelectionOverlayCoordinator.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeWindowList.h"
#include "fakes/MemoryPreferencesStore.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include "tests/x11_input/XTestDriver.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace zorvane {
namespace {

using testing::DesktopSession;
using testing::settle;
using testing::waitUntil;

class X11InputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session_ = new DesktopSession();
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "x11_input_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        queue_ = std::make_shared<testing::QtTestMainQueue>();
        clock_ = std::make_shared<SystemClock>();
        screens_ = X11Screens::create();
        monitors_ = X11EventMonitors::create(queue_, clock_, screens_);
    }
    static void TearDownTestSuite()
    {
        monitors_.reset();
        screens_.reset();
        queue_.reset();
        delete app_;
        delete session_;
    }

    static inline DesktopSession* session_ = nullptr;
    static inline QApplication* app_ = nullptr;
    static inline std::shared_ptr<testing::QtTestMainQueue> queue_;
    static inline std::shared_ptr<SystemClock> clock_;
    static inline std::shared_ptr<X11Screens> screens_;
    static inline std::shared_ptr<X11EventMonitors> monitors_;
};

TEST_F(X11InputTest, PointerAndKeysReachTheMonitorsOfTheWindowTheyConcern)
{
    ASSERT_TRUE(monitors_->watchesRawInput());
    testing::XTestDriver x;
    const testing::ColouredWindow otherWindow(x.display(), "other application", 0xff0000, 100, 100, 500, 400);
    const Window other = otherWindow.id();
    ASSERT_TRUE(testing::eventually([&] { return otherWindow.framed(); }));
    class OurWindow final : public QWidget {
    public:
        int escapes = 0;

    protected:
        void keyPressEvent(QKeyEvent* event) override { escapes += event->key() == Qt::Key_Escape; }
    } ours;
    ours.setWindowTitle("ours");
    ours.setGeometry(800, 200, 300, 200);
    ours.show();
    ASSERT_TRUE(session_->waitForWindow("ours"));

    std::vector<PointerMovement> global, local;
    std::vector<int> keys;
    int selfRemoving = 0;
    const MonitorToken g = monitors_->addGlobalPointerMovedMonitor([&](const PointerMovement& m) { global.push_back(m); });
    const MonitorToken l = monitors_->addLocalPointerMovedMonitor([&](const PointerMovement& m) { local.push_back(m); });
    const MonitorToken k = monitors_->addGlobalKeyDownMonitor([&](const KeyEvent& e) { keys.push_back(e.keyCode); });
    MonitorToken once = 0;
    once = monitors_->addGlobalPointerMovedMonitor([&](const PointerMovement&) {
        ++selfRemoving;
        monitors_->removeMonitor(once);
    });

    // Over another application: the global monitors get every movement, at the pointer's place.
    x.warp(300, 300);
    settle(0.2);
    global.clear();
    const double before = clock_->uptime();
    for (int i = 0; i < 5; ++i) x.moveBy(10, 5);
    ASSERT_TRUE(waitUntil([&] { return !global.empty() && global.back().location == Point {350, 325}; }));
    EXPECT_GE(global.back().uptime, before);
    EXPECT_LE(global.back().uptime, clock_->uptime());
    EXPECT_TRUE(local.empty());
    EXPECT_EQ(selfRemoving, 1);

    // A drag is not a plain movement.
    x.button(true);
    settle(0.2);
    global.clear();
    for (int i = 0; i < 5; ++i) x.moveBy(20, 0);
    settle(0.3);
    x.button(false);
    EXPECT_TRUE(global.empty());

    // Over our own window: only the local monitor.
    x.warp(900, 300);
    settle(0.2);
    global.clear();
    local.clear();
    for (int i = 0; i < 3; ++i) x.moveBy(5, 5);
    ASSERT_TRUE(waitUntil([&] { return !local.empty() && local.back().location == Point {915, 315}; }));
    EXPECT_TRUE(global.empty());

    // Escape typed into the other application: seen globally, and the application still gets it.
    x.focus(other);
    x.typeKey(XK_Escape);
    EXPECT_TRUE(waitUntil([&] { return keys == std::vector<int> {KeyEvent::escape}; }));
    EXPECT_TRUE(x.receivedKeyPress(other, XK_Escape));

    // Escape typed into our own window: the local monitor swallows it, the global one never sees it.
    keys.clear();
    std::vector<int> localKeys;
    const MonitorToken lk = monitors_->addLocalKeyDownMonitor([&](const KeyEvent& e) {
        localKeys.push_back(e.keyCode);
        return true;
    });
    x.focus(ours.winId());
    ASSERT_TRUE(waitUntil([&] { return ours.isActiveWindow(); }));
    x.typeKey(XK_Escape);
    EXPECT_TRUE(waitUntil([&] { return localKeys == std::vector<int> {KeyEvent::escape}; }));
    monitors_->removeMonitor(lk);
    x.typeKey(XK_Escape);
    EXPECT_TRUE(waitUntil([&] { return ours.escapes == 1; }));
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(localKeys.size(), 1u);
    x.focus(other);

    // Removed monitors hear nothing more.
    monitors_->removeMonitor(g);
    monitors_->removeMonitor(l);
    monitors_->removeMonitor(k);
    global.clear();
    keys.clear();
    x.warp(300, 300);
    x.moveBy(10, 0);
    x.typeKey(XK_Escape);
    settle(0.3);
    EXPECT_TRUE(global.empty());
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(selfRemoving, 1);
}

TEST_F(X11InputTest, AShakeOfThePointerTriggersTheGestureOnce)
{
    auto defaults = std::make_shared<UserDefaults>(std::make_shared<fakes::MemoryPreferencesStore>());
    Defaults::registerDefaults(*defaults);
    auto gesture = MotionGestureMonitor::create(monitors_, defaults, queue_);
    int triggers = 0;
    gesture->onTrigger = [&] { ++triggers; };

    gesture->start();

    testing::XTestDriver x;
    x.warp(700, 450);
    settle(0.2);
    // Ten strokes of 300 pixels in about 80 ms each, as a hand shakes a mouse. The main thread is
    // kept busy meanwhile: the movements wait for it with the times they were seen.
    for (int stroke = 0; stroke < 10; ++stroke) {
        for (int step = 0; step < 4; ++step) {
            x.moveBy(stroke % 2 ? -75 : 75, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_TRUE(waitUntil([&] { return triggers > 0; }, 5));
    settle(0.5);
    EXPECT_EQ(triggers, 1);
    gesture->stop();
}

TEST_F(X11InputTest, OverlaySelectsByDragAndClickAndLeavesNothingOnScreen)
{
    // No element is ever found: every selection is the area around the pointer or a dragged one.
    auto accessibility = std::make_shared<AccessibilitySelectionService>(std::make_shared<fakes::FakePermissions>(),
        std::make_shared<fakes::FakeWindowList>(), std::make_shared<fakes::FakeAccessibilityTree>(), screens_, clock_, ::getpid());
    auto panels = std::make_shared<X11OverlayPanels>(monitors_, std::shared_ptr<WindowImages>(X11WindowImages::create()));
    auto coordinator = SelectionOverlayCoordinator::create(accessibility, screens_, panels, monitors_, queue_, clock_);

    testing::XTestDriver x;
    // A grey desktop, so that the veil shows on the frozen frame.
    XSetWindowBackground(x.display(), x.root(), 0x808080);
    XClearWindow(x.display(), x.root());
    const testing::ColouredWindow otherWindow(x.display(), "other application", 0xff0000, 100, 100, 500, 400);
    const Window other = otherWindow.id();
    ASSERT_TRUE(testing::eventually([&] { return otherWindow.framed(); }));
    x.focus(other);
    std::optional<CapturedContext> selected;
    int cancels = 0;
    const auto begin = [&] {
        selected.reset();
        coordinator->begin([&](const CapturedContext& c) { selected = c; }, [&] { ++cancels; });
        return waitUntil([&] { return x.overlayPanels() == 2; });
    };
    const auto nothingLeft = [&] { return !panels->anyPanelOnScreen() && x.overlayPanels() == 0; };
    // Kept when ZORVANE_SCREENSHOT_DIR names a folder.
    const auto screenshot = [&](const std::string& name) {
        const char* keep = std::getenv("ZORVANE_SCREENSHOT_DIR");
        const auto path = (keep && *keep ? std::filesystem::path(keep) : session_->home()) / name;
        EXPECT_TRUE(session_->screenshot(path));
        return QImage(QString::fromStdString(path.string()));
    };

    // Without a compositor: one panel per monitor, above the other window, showing the frozen
    // screen under the veil (not black).
    ASSERT_FALSE(X11OverlayPanels::compositorRunning());
    x.warp(300, 300);
    ASSERT_TRUE(begin());
    const auto order = x.stacking();
    ASSERT_GE(order.size(), 3u);
    EXPECT_TRUE(x.isOverlayPanel(order.end()[-1]) && x.isOverlayPanel(order.end()[-2])) << "not on top";
    settle(0.3);
    const QImage frozen = screenshot("overlay-frozen.png");
    EXPECT_GT(frozen.pixelColor(150, 150).red(), 200);
    EXPECT_LT(frozen.pixelColor(150, 150).green(), 20);
    // The bare desktop, 0x80 grey, under a black veil of 7 %.
    EXPECT_NEAR(frozen.pixelColor(1000, 700).green(), 119, 3);
    EXPECT_NEAR(frozen.pixelColor(2400, 700).green(), 119, 3);

    // A drag selects exactly the dragged area, in Quartz points.
    x.warp(200, 200);
    settle(0.1);
    // The panel reads the pointer when it handles an event, so each step waits for the last.
    x.button(true);
    settle(0.1);
    for (int i = 0; i < 10; ++i) {
        x.moveBy(30, 20);
        settle(0.02);
    }
    settle(0.1);
    x.button(false);
    ASSERT_TRUE(waitUntil([&] { return selected.has_value(); }));
    EXPECT_EQ(selected->screenRect, Rect(200, 200, 300, 200));
    EXPECT_TRUE(waitUntil(nothingLeft));

    // With a compositor the panel is translucent; a click on the right monitor accepts the area
    // around the pointer there.
    const pid_t compositor = session_->spawn({"xcompmgr"});
    ASSERT_TRUE(waitUntil([] { return X11OverlayPanels::compositorRunning(); }));
    x.warp(2000, 500);
    ASSERT_TRUE(begin());
    settle(0.3);
    const QImage translucent = screenshot("overlay-composited.png");
    EXPECT_GT(translucent.pixelColor(150, 150).red(), 200);
    EXPECT_LT(translucent.pixelColor(150, 150).green(), 20);
    x.button(true);
    x.button(false);
    ASSERT_TRUE(waitUntil([&] { return selected.has_value(); }));
    EXPECT_EQ(selected->screenRect, Rect(1640, 260, 720, 480));
    EXPECT_TRUE(waitUntil(nothingLeft));

    // The panels never took the keyboard from the other application; Escape typed there
    // cancels, once.
    ASSERT_TRUE(begin());
    Window focused = 0;
    int revert = 0;
    XGetInputFocus(x.display(), &focused, &revert);
    EXPECT_EQ(focused, other);
    x.typeKey(XK_Escape);
    EXPECT_TRUE(waitUntil([&] { return cancels == 1; }));
    EXPECT_TRUE(waitUntil(nothingLeft));
    EXPECT_FALSE(selected.has_value());
    settle(0.2);
    EXPECT_EQ(cancels, 1);

    session_->stop(compositor);
}

} // namespace
} // namespace zorvane
