// The X11 screens, window list and capture on a desktop without a window manager.
#include "app/platform/linux/x11/X11ScreenRecording.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"
#include "app/selection/ScreenCaptureService.h"
#include "tests/fakes/FakePermissions.h"

#include <png.h>

// Xlib last: its macros clash with the names above.
#include "tests/x11/TestWindows.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace zorvane::testing {
namespace {

class DesktopWithoutWindowManager : public DesktopSuite<false> {
protected:
    void TearDown() override
    {
        for (const auto& [name, value] : savedEnvironment) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        setXftDpi(nullptr);
    }

    void setEnvironment(const std::string& name, const char* value)
    {
        if (!savedEnvironment.count(name)) {
            const char* old = std::getenv(name.c_str());
            savedEnvironment[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) setenv(name.c_str(), value, 1);
        else unsetenv(name.c_str());
    }
    static void setXftDpi(const char* dpi)
    {
        const Window root = DefaultRootWindow(display);
        if (dpi) {
            const std::string resources = std::string("Xft.antialias:\t1\nXft.dpi:\t") + dpi + "\n";
            XChangeProperty(display, root, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                reinterpret_cast<const unsigned char*>(resources.data()), static_cast<int>(resources.size()));
        } else {
            XDeleteProperty(display, root, XA_RESOURCE_MANAGER);
        }
        XSync(display, False);
    }

    std::map<std::string, std::optional<std::string>> savedEnvironment;
};

struct QtScreen {
    std::string name;
    double scale = 0;
    Rect geometry;
};

std::vector<QtScreen> screensAsQtSeesThem()
{
    std::vector<QtScreen> result;
    // The probe only reports what Qt sees; the sanitizers' findings inside Qt are not this test's.
    FILE* probe = popen("TSAN_OPTIONS=report_bugs=0 ASAN_OPTIONS=detect_leaks=0 " ZORVANE_QT_SCREENS_PROBE " 2>/dev/null", "r");
    if (!probe) return result;
    char line[256];
    while (std::fgets(line, sizeof line, probe)) {
        std::istringstream fields(line);
        QtScreen screen;
        double x, y, w, h;
        if (fields >> screen.name >> screen.scale >> x >> y >> w >> h) {
            screen.geometry = Rect(x, y, w, h);
            result.push_back(screen);
        }
    }
    pclose(probe);
    return result;
}

TEST_F(DesktopWithoutWindowManager, MonitorsComeInOrderAtTheScaleQtGivesOurWindows)
{
    struct Case {
        const char* xftDpi;
        std::map<std::string, const char*> environment;
    };
    const Case cases[] = {
        {nullptr, {}},
        {"192", {}},
        {"144", {}},
        {"72", {}},
        {nullptr, {{"QT_SCREEN_SCALE_FACTORS", "RIGHT=2"}}},
        {"120", {{"QT_SCALE_FACTOR_ROUNDING_POLICY", "Round"}}},
        {"192", {{"QT_SCALE_FACTOR", "1.5"}, {"QT_SCREEN_SCALE_FACTORS", "RIGHT=1"}}},
        {"192", {{"QT_SCREEN_SCALE_FACTORS", "RIGHT=1;LEFT=1.5"}}},
        {"192", {{"QT_ENABLE_HIGHDPI_SCALING", "0"}}},
    };
    auto screens = X11Screens::create();
    ASSERT_TRUE(screens);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("Xft.dpi ") + (c.xftDpi ? c.xftDpi : "unset") + ", "
            + (c.environment.empty() ? "" : c.environment.begin()->first));
        setXftDpi(c.xftDpi);
        for (const auto& [name, value] : c.environment) setEnvironment(name, value);

        const auto qt = screensAsQtSeesThem();
        const auto layout = screens->layout();
        const auto described = screens->screens();
        ASSERT_EQ(qt.size(), 2u);
        ASSERT_EQ(layout.monitors().size(), 2u);
        ASSERT_EQ(described.size(), 2u);
        EXPECT_EQ(layout.monitors()[0].name, "LEFT");
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(layout.monitors()[i].name, qt[i].name);
            EXPECT_DOUBLE_EQ(layout.monitors()[i].scale, qt[i].scale);
            // Qt's origin is the root's; ours the primary's, which is at the root's origin here.
            EXPECT_EQ(described[i].quartzBounds, qt[i].geometry);
        }
        for (const auto& entry : c.environment) setEnvironment(entry.first, nullptr);
    }
}

TEST_F(DesktopWithoutWindowManager, VisibleFramesLeaveOutADockOnlyOnItsOwnMonitor)
{
    setEnvironment("QT_SCREEN_SCALE_FACTORS", "RIGHT=2");
    auto screens = X11Screens::create();
    ASSERT_TRUE(screens);
    {
        // A 30-pixel panel along the top of the right monitor only.
        ColouredWindow dock(display, "panel", 0x303030, 1440, 0, 1440, 30,
            {.type = "_NET_WM_WINDOW_TYPE_DOCK", .strutPartial = {0, 0, 30, 0, 0, 0, 0, 0, 1440, 2879, 0, 0}});
        ASSERT_TRUE(eventually([&] { return dock.viewable(); }));

        const auto described = screens->screens();
        ASSERT_EQ(described.size(), 2u);
        EXPECT_EQ(described[0].visibleFrame, Rect(0, 0, 1440, 900));
        // Flipped against the primary's height: the right monitor's top edge is level with the left's.
        EXPECT_EQ(described[1].appKitFrame, Rect(1440, 450, 720, 450));
        // 30 pixels at 2× are 15 points off the top.
        EXPECT_EQ(described[1].visibleFrame, Rect(1440, 450, 720, 435));

        // The conversions other adapters use agree with that layout, both ways.
        EXPECT_EQ(screens->quartzPoint({2000, 100}), (Point {1720, 50}));
        EXPECT_EQ(screens->rootPixelRect(Rect(1720, 50, 10, 5)), Rect(2000, 100, 20, 10));
        EXPECT_EQ(screens->quartzPoint({300, 200}), (Point {300, 200}));
    }
    // Read afresh: the panel has gone.
    EXPECT_EQ(screens->screens()[1].visibleFrame, Rect(1440, 450, 720, 450));
}

TEST_F(DesktopWithoutWindowManager, WindowListFollowsTheStackingOrderAndKnowsEachOwner)
{
    auto list = X11WindowList::create();
    ASSERT_TRUE(list);
    ColouredWindow desktop(display, "desktop", 0x101010, 0, 0, 1440, 900, {.type = "_NET_WM_WINDOW_TYPE_DESKTOP"});
    ColouredWindow red(display, "red", 0xff0000, 100, 100, 300, 200);
    ColouredWindow green(display, "green", 0x00ff00, 200, 150, 300, 200, {.setPID = false});
    // Another program's window, over the corner of green.
    const pid_t other = session->spawn({"xmessage", "-geometry", "120x60+420+300", "-title", "other", "other"});
    ASSERT_TRUE(session->waitForWindow("other"));
    ColouredWindow overlay(display, "overlay", 0x0000ff, 250, 200, 50, 50, {.overrideRedirect = true});
    ASSERT_TRUE(eventually([&] { return red.viewable() && green.viewable() && overlay.viewable(); }));
    const ProcessID self = getpid();

    auto windows = list->onScreenWindows();
    ASSERT_TRUE(windows);
    // Front to back: our overlay (not an application window), the other program, green, red;
    // the desktop window is not listed.
    ASSERT_EQ(windows->size(), 4u);
    EXPECT_EQ((*windows)[0].bounds, Rect(250, 200, 50, 50));
    EXPECT_NE((*windows)[0].layer, 0);
    EXPECT_EQ((*windows)[0].ownerPID, self);
    EXPECT_EQ((*windows)[1].ownerPID, other);
    EXPECT_EQ((*windows)[1].layer, 0);
    EXPECT_EQ((*windows)[2].bounds, Rect(200, 150, 300, 200));
    EXPECT_EQ((*windows)[2].ownerPID, self) << "the owner of a window without _NET_WM_PID";
    EXPECT_EQ((*windows)[3].bounds, Rect(100, 100, 300, 200));

    // Under the overlay and over red and green: green is in front; leaving ourselves out, nothing.
    auto hit = list->topmostApplicationWindow({260, 210}, other);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->bounds, Rect(200, 150, 300, 200));
    EXPECT_FALSE(list->topmostApplicationWindow({260, 210}, self));
    // Where the other program's window covers green.
    hit = list->topmostApplicationWindow({430, 310}, self);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->ownerPID, other);

    XRaiseWindow(display, red.id());
    XSync(display, False);
    EXPECT_EQ(list->topmostApplicationWindow({260, 210}, other)->bounds, Rect(100, 100, 300, 200));
    XLowerWindow(display, red.id());
    XSync(display, False);
    EXPECT_EQ(list->topmostApplicationWindow({260, 210}, other)->bounds, Rect(200, 150, 300, 200));
    EXPECT_FALSE(list->topmostApplicationWindow({1000, 800}, other)) << "only the desktop is there";

    // A client-side decorated window draws its own shadow: the shadow is not the window.
    ColouredWindow shadowed(display, "shadowed", 0xffffff, 600, 500, 200, 200);
    const unsigned long shadow[] = {20, 20, 10, 30};
    XChangeProperty(display, shadowed.id(), x11::atom(display, "_GTK_FRAME_EXTENTS"), XA_CARDINAL, 32, PropModeReplace,
        reinterpret_cast<const unsigned char*>(shadow), 4);
    XSync(display, False);
    ASSERT_TRUE(eventually([&] { return shadowed.viewable(); }));
    EXPECT_EQ(list->topmostApplicationWindow({700, 600}, other)->bounds, Rect(620, 510, 160, 160));
    EXPECT_FALSE(list->topmostApplicationWindow({605, 505}, other));
    EXPECT_EQ(list->onScreenWindows()->front().bounds, Rect(620, 510, 160, 160));
    session->stop(other);
}

std::vector<std::uint8_t> decodeRGB(const std::vector<std::uint8_t>& png, std::uint32_t& width, std::uint32_t& height)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    width = image.width;
    height = image.height;
    return rgb;
}

TEST_F(DesktopWithoutWindowManager, CapturesTheScreenOrOnlyWhatLiesBelowAWindow)
{
    auto images = std::shared_ptr<X11WindowImages>(X11WindowImages::create());
    ASSERT_TRUE(images);
    ASSERT_TRUE(images->canCompositeBelow());
    ASSERT_TRUE(X11ScreenRecording::isGranted());
    // Created after the images object, as the program does at start-up.
    ColouredWindow red(display, "red", 0xff0000, 100, 500, 300, 200);
    ColouredWindow green(display, "green", 0x00ff00, 150, 550, 300, 200);
    ColouredWindow blue(display, "blue", 0x0000ff, 200, 600, 300, 200);
    ASSERT_TRUE(eventually([&] { return red.viewable() && green.viewable() && blue.viewable(); }));

    const Rect area(100, 500, 450, 350);
    auto all = images->compositeImage(area, std::nullopt);
    auto below = images->compositeImage(area, green.id());
    ASSERT_TRUE(all && below);
    ASSERT_EQ(all->width, 450u);
    ASSERT_EQ(below->height, 350u);
    struct Probe {
        std::uint32_t x, y, everything, belowGreen;
    };
    const Probe probes[] = {
        {10, 10, 0xff0000, 0xff0000},   // only red
        {70, 70, 0x00ff00, 0xff0000},   // green over red
        {160, 160, 0x0000ff, 0xff0000}, // blue over green over red
        {380, 280, 0x0000ff, 0x000000}, // blue alone: the bare root below
        {420, 20, 0x000000, 0x000000},  // nothing
    };
    for (const auto& p : probes) {
        SCOPED_TRACE(::testing::Message() << "at " << p.x << "," << p.y);
        EXPECT_EQ(pixelAt(*all, p.x, p.y), p.everything);
        EXPECT_EQ(pixelAt(*below, p.x, p.y), p.belowGreen);
    }

    // A window that is not on the screen leaves nothing out.
    Window gone;
    {
        ColouredWindow closed(display, "closed", 0xffffff, 0, 0, 10, 10);
        gone = closed.id();
    }
    auto withGone = images->compositeImage(area, gone);
    ASSERT_TRUE(withGone);
    EXPECT_EQ(pixelAt(*withGone, 160, 160), 0x0000ffu);

    // On the 2× monitor, twice the pixels, and the PNG the model sends decodes to that size.
    setEnvironment("QT_SCREEN_SCALE_FACTORS", "RIGHT=2");
    ColouredWindow magenta(display, "magenta", 0xff00ff, 1600, 100, 200, 100);
    ASSERT_TRUE(eventually([&] { return magenta.viewable(); }));
    const Rect onRight(1520, 50, 100, 50);
    auto sharp = images->compositeImage(onRight, std::nullopt);
    ASSERT_TRUE(sharp);
    EXPECT_EQ(sharp->width, 200u);
    EXPECT_EQ(sharp->height, 100u);
    EXPECT_EQ(sharp->scale, 2);
    EXPECT_EQ(pixelAt(*sharp, 0, 0), 0xff00ffu);
    EXPECT_EQ(pixelAt(*sharp, 199, 99), 0xff00ffu);

    // Below green too, once it is beneath it.
    XLowerWindow(display, magenta.id());
    XSync(display, False);
    auto permissions = std::make_shared<fakes::FakePermissions>();
    permissions->screenRecording = true;
    ScreenCaptureService service(permissions, images);
    std::uint32_t width = 0, height = 0;
    const auto rgb = decodeRGB(service.capture(onRight, green.id()), width, height);
    ASSERT_FALSE(rgb.empty());
    EXPECT_EQ(width, 200u);
    EXPECT_EQ(height, 100u);
    EXPECT_EQ(rgb[0], 0xff);
    EXPECT_EQ(rgb[1], 0x00);
    EXPECT_EQ(rgb[2], 0xff);
}

TEST_F(DesktopWithoutWindowManager, AServerWithoutCompositeSharedMemoryOrRandRStillServes)
{
    // A second, bare server beside the session's (-noreset: a stray client of a recently freed
    // display number must not reset it under us).
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t server = session->spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "800x600x24",
        "-nolisten", "tcp", "-noreset", "-extension", "Composite", "-extension", "MIT-SHM", "-extension", "RANDR"});
    close(fds[1]);
    char number[16] = {};
    const ssize_t n = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    ASSERT_GT(n, 0);
    const std::string name = ":" + std::to_string(std::atoi(number));
    auto bare = x11::openDisplay(name.c_str());
    ASSERT_TRUE(bare);

    // One monitor: the whole X screen.
    auto screens = X11Screens::create(name.c_str());
    ASSERT_TRUE(screens);
    const auto described = screens->screens();
    ASSERT_EQ(described.size(), 1u);
    EXPECT_EQ(described[0].quartzBounds, Rect(0, 0, 800, 600));

    auto images = X11WindowImages::create(name.c_str());
    ASSERT_TRUE(images);
    EXPECT_FALSE(images->canCompositeBelow());
    {
        ColouredWindow panel(bare.get(), "panel", 0x00ff00, 100, 100, 200, 200);
        ASSERT_TRUE(eventually([&] { return panel.viewable(); }));
        // Plain requests instead of shared memory.
        auto all = images->compositeImage(Rect(50, 50, 300, 300), std::nullopt);
        ASSERT_TRUE(all);
        EXPECT_EQ(pixelAt(*all, 100, 100), 0x00ff00u);
        // No image at all rather than one that shows the window it must leave out.
        EXPECT_FALSE(images->compositeImage(Rect(50, 50, 300, 300), panel.id()));
    }
    images.reset();
    screens.reset();
    bare.reset();
    session->stop(server);
}

TEST_F(DesktopWithoutWindowManager, ScreenRecordingIsNotGrantedOnAWaylandSession)
{
    // Decided before any connection is tried: XWayland would only show its own clients.
    setEnvironment("XDG_SESSION_TYPE", "wayland");
    EXPECT_FALSE(X11ScreenRecording::isGranted());
}

} // namespace
} // namespace zorvane::testing
