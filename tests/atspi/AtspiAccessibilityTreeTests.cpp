// The accessibility adapter against real GTK 3, Qt 6 and Chromium windows on a private desktop,
// through the core's element selection as the overlay uses it; and the workspace's frontmost
// application among those windows.
#include "app/core/SystemClock.h"
#include "app/platform/linux/atspi/AtspiAccessibilityStatus.h"
#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"
#include "app/platform/linux/atspi/DesktopEntryNames.h"
#include "app/platform/linux/atspi/X11RootCoordinates.h"
#include "app/platform/linux/desktop/X11Workspace.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"
#include "app/selection/AccessibilitySelectionService.h"
#include "fakes/FakeSystem.h"
#include "fakes/TemporaryDirectory.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/X11Client.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>

namespace zorvane::testing {
namespace {

using namespace std::chrono_literals;
using Kind = CapturedContext::Kind;
using Fits = std::function<bool(const CapturedContext&)>;

// What the program's event loop does between two pointer moves: libatspi's bus connection is
// attached to GLib's default context.
void runGLibEvents()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// The overlay's element lookup as the program builds it: the real window list and screens.
struct Overlay {
    explicit Overlay(AtspiAccessibilityTree::Bounds bounds = {})
        : tree(std::make_shared<AtspiAccessibilityTree>(rootCoordinatesFrom(screens), bounds))
    {
        permissions->accessibility = true;
    }
    std::optional<CapturedContext> context(Point at)
    {
        runGLibEvents();
        return service.context(at);
    }
    // The first answer that fits, asking again as the pointer would: an application shows nothing
    // until it has registered and laid itself out, and on a busy machine the lookup's time budget
    // may cut an answer short. An adapter that cannot find the element never fits.
    std::optional<CapturedContext> contextWithin(Point at, double seconds, const Fits& fits)
    {
        std::optional<CapturedContext> found;
        return waitUntil(seconds, [&] { return (found = context(at)) && fits(*found); }) ? found : std::nullopt;
    }

    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<X11WindowList> windows {X11WindowList::create()};
    std::shared_ptr<X11Screens> screens {X11Screens::create()};
    std::shared_ptr<AtspiAccessibilityTree> tree;
    AccessibilitySelectionService service {permissions, windows, tree, screens, std::make_shared<SystemClock>(), getpid()};
};

void expectNear(const Rect& actual, const Rect& expected)
{
    EXPECT_NEAR(actual.minX(), expected.minX(), 1.0);
    EXPECT_NEAR(actual.minY(), expected.minY(), 1.0);
    EXPECT_NEAR(actual.width(), expected.width(), 1.0);
    EXPECT_NEAR(actual.height(), expected.height(), 1.0);
}

Point centre(const Rect& r) { return {r.midX(), r.midY()}; }
const Fits titled = [](const CapturedContext& c) { return c.title == "Enviar mensaje"; };
const Fits isImage = [](const CapturedContext& c) { return c.kind == Kind::image; };
const Fits isText = [](const CapturedContext& c) { return c.kind == Kind::text; };

class AtspiAccessibilityTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session = new DesktopSession;
        gtk = session->startGtkWindow("Ventana GTK");
        qt = session->startQtWindow("Ventana Qt");
        // A launcher entry for the GTK script: its name is the application's, not the script's.
        if (gtk) {
            std::ifstream command("/proc/" + std::to_string(gtk->pid) + "/cmdline");
            std::string interpreter, script;
            std::getline(std::getline(command, interpreter, '\0'), script, '\0');
            fakes::writeFile(session->home() / ".local/share/applications/notas.desktop",
                "[Desktop Entry]\nType=Application\nName=Notas de prueba\nExec=/usr/bin/python3 " + script + " %f\n");
            // An entry whose arguments are no files must not be taken for a program that runs no script.
            fakes::writeFile(session->home() / ".local/share/applications/visor.desktop",
                "[Desktop Entry]\nType=Application\nName=Visor\nExec=/usr/bin/true -nostdin %F\n");
        }
    }
    static void TearDownTestSuite() { delete session; }
    void SetUp() override
    {
        ASSERT_TRUE(gtk) << "the GTK window did not come up";
        ASSERT_TRUE(qt) << "the Qt window did not come up";
        ASSERT_TRUE(overlay.windows && overlay.screens);
    }

    static inline DesktopSession* session = nullptr;
    static inline std::optional<TestWindow> gtk, qt;
    Overlay overlay;
};

TEST_F(AtspiAccessibilityTreeTest, PicksTheButtonThePictureTheLinkAndTheTextInGtkAndQtWindows)
{
    for (const auto* app : {&*gtk, &*qt}) {
        SCOPED_TRACE(app == &*gtk ? "GTK 3" : "Qt 6");
        const auto& at = app->widgets;
        const auto button = overlay.contextWithin(centre(at.at("button")), 10, titled);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->role, "botón") << "in Spanish, whatever the session's language";
        EXPECT_EQ(button->kind, Kind::interface);
        expectNear(button->screenRect, at.at("button"));
        EXPECT_EQ(button->appName, app == &*gtk ? "Notas de prueba" : "zorvane_qt_test_window");
        if (app == &*gtk) {
            const pid_t code = session->processes().start({"/usr/bin/python3", "-c", "import time; time.sleep(30)"});
            const std::string exe = "/proc/" + std::to_string(code) + "/exe";
            EXPECT_TRUE(waitUntil(5, [&] {
                std::error_code error;
                return std::filesystem::read_symlink(exe, error).filename().string().starts_with("python");
            }));
            EXPECT_EQ(DesktopEntryNames::nameOf(code, "sin entrada"), std::nullopt) << "code on the command line is no script";
            session->processes().stop(code);
        }

        const auto picture = overlay.contextWithin(centre(at.at("picture")), 3, isImage);
        ASSERT_TRUE(picture);
        expectNear(picture->screenRect, at.at("picture"));
        EXPECT_TRUE(overlay.contextWithin(centre(at.at("link")), 3,
            [](const CapturedContext& c) { return (c.title + c.content).find("Abrir la ayuda") != std::string::npos; }));
        const auto text = overlay.contextWithin(centre(at.at("text")), 3, isText);
        ASSERT_TRUE(text);
        EXPECT_NE(text->content.find("Primera línea del texto\nSegunda línea del texto"), std::string::npos);
    }
    // The bare desktop: no window there, and none of the application's top-levels either.
    EXPECT_FALSE(overlay.context(Point {1400, 880}));
    EXPECT_FALSE(overlay.tree->elementAtPoint(gtk->pid, Point {1400, 880}));
}

TEST_F(AtspiAccessibilityTreeTest, AnApplicationThatStopsAnsweringCostsOneShortWaitAndOthersStillWork)
{
    AtspiAccessibilityTree::Bounds bounds;
    bounds.unresponsivePause = 400ms;
    Overlay bounded(bounds);
    const Point gtkButton = centre(gtk->widgets.at("button"));
    ASSERT_TRUE(bounded.contextWithin(gtkButton, 10, titled));

    ASSERT_EQ(kill(gtk->pid, SIGSTOP), 0);
    const auto start = std::chrono::steady_clock::now();
    const auto whileStopped = bounded.context(gtkButton);
    const auto waited = std::chrono::steady_clock::now() - start;
    // The other application answers while this one is still stopped; this one is not asked again.
    const auto other = bounded.contextWithin(centre(qt->widgets.at("button")), 3, titled);
    const auto again = bounded.context(gtkButton);
    kill(gtk->pid, SIGCONT);
    EXPECT_FALSE(whileStopped);
    EXPECT_LT(waited, 5s) << "not D-Bus's 25 s (the figure itself is the benchmark's)";
    EXPECT_TRUE(other);
    EXPECT_FALSE(again);
    // Once it answers again, so does the lookup.
    EXPECT_TRUE(bounded.contextWithin(gtkButton, 5, titled));
}

TEST_F(AtspiAccessibilityTreeTest, TheRequestTurnsOnTheSwitchAndQtWindowsStartedAfterwardsExposeTheirTrees)
{
    // Qt reads the switch once, at start-up.
    AtspiAccessibilityStatus status;
    EXPECT_FALSE(status.isEnabled());
    const auto before = session->startQtWindow("Qt antes del permiso", false);
    ASSERT_TRUE(before);
    EXPECT_FALSE(overlay.context(centre(before->widgets.at("button"))));
    session->stop(before->pid);

    EXPECT_TRUE(status.enable());
    EXPECT_TRUE(status.isEnabled());
    const auto after = session->startQtWindow("Qt después del permiso", false);
    ASSERT_TRUE(after);
    EXPECT_TRUE(overlay.contextWithin(centre(after->widgets.at("button")), 10, titled));
    session->stop(after->pid);
}

TEST_F(AtspiAccessibilityTreeTest, FindsAPictureAndAParagraphInChromiumAndNamesTheBrowserInFront)
{
    const pid_t chromium = session->startChromium();
    const auto picture = overlay.contextWithin({1440 + 160, 120}, 40, isImage);
    ASSERT_TRUE(picture) << "no picture in Chromium's page";
    EXPECT_EQ(picture->title, "Gráfico de ventas");
    expectNear(picture->screenRect, Rect(1440 + 40, 40, 240, 160));
    const auto paragraph = overlay.contextWithin({1440 + 100, 250}, 3, isText);
    ASSERT_TRUE(paragraph);
    EXPECT_NE(paragraph->content.find("Un párrafo de prueba"), std::string::npos);

    // In front, Chromium is the browser the extension knows; the GTK window is no browser.
    X11Workspace workspace;
    EXPECT_TRUE(waitUntil(20, [&] { return workspace.frontmostApplicationIdentifier() == "org.chromium.Chromium"; }));
    EXPECT_EQ(workspace.frontmostApplicationProcessID(), chromium) << "the process its extension's hosts name";
    EXPECT_EQ(workspace.applicationIdentifierOfProcess(chromium), "org.chromium.Chromium");
    session->processes().run({"xdotool", "search", "--name", "Ventana GTK", "windowactivate"}, 10);
    std::optional<std::string> identifier;
    EXPECT_TRUE(waitUntil(10, [&] { return (identifier = workspace.frontmostApplicationIdentifier()) == "local.x11.gtk-window-py"; }))
        << identifier.value_or("none");
    session->stop(chromium);
}

// At Xft.dpi 192, with GTK at GDK_SCALE=2 and Qt scaling itself: each reports its own logical
// pixels (Qt per monitor: its window here spans both), and a click on each button gives the
// button, its picture at twice its logical size.
TEST_F(AtspiAccessibilityTreeTest, OnAScaledDesktopTheButtonsAreFoundWhereTheyAreAndPicturedAtTheScreensDensity)
{
    fakes::writeFile(session->home() / "resources", "Xft.dpi: 192\n");
    session->processes().run({"xrdb", "-merge", (session->home() / "resources").string()}, 10);
    const auto scaledGtk = session->startGtkWindow("GTK al doble", {{"GDK_SCALE", "2"}});
    const auto scaledQt = session->startQtWindow("Qt al doble");
    ASSERT_TRUE(scaledGtk && scaledQt);
    Overlay scaled;
    X11Client x;
    const auto images = std::shared_ptr<X11WindowImages>(X11WindowImages::create());
    // Root pixels of a point as each toolkit reports it: GTK from the root's corner, Qt from the
    // corner of the monitor the point is on (LEFT at 0, RIGHT at 1440).
    const auto gtkRoot = [](Point p) { return Point {p.x * 2, p.y * 2}; };
    const auto qtRoot = [](Point p) { return Point {p.x >= 1440 ? 1440 + (p.x - 1440) * 2 : p.x * 2, p.y * 2}; };
    for (const auto& [app, toRoot] : {std::pair {&*scaledGtk, std::function<Point(Point)>(gtkRoot)}, std::pair {&*scaledQt, std::function<Point(Point)>(qtRoot)}}) {
        SCOPED_TRACE(app == &*scaledGtk ? "GTK 3" : "Qt 6");
        const Rect logical = app->widgets.at("button");
        const Point root = toRoot(centre(logical));
        const auto button = scaled.contextWithin(scaled.screens->quartzPoint(root), 10, titled);
        ASSERT_TRUE(button);
        const auto picture = images->compositeImage(button->screenRect, std::nullopt);
        ASSERT_TRUE(picture);
        EXPECT_NEAR(picture->width, logical.width() * 2, 1);
        EXPECT_NEAR(picture->height, logical.height() * 2, 1);
        const std::uint8_t* middle = picture->pixels.data() + picture->height / 2 * picture->stride + picture->width / 2 * 4;
        EXPECT_EQ(std::uint32_t(middle[2]) << 16 | std::uint32_t(middle[1]) << 8 | middle[0], x.pixel(int(root.x), int(root.y)));
    }
    session->processes().run({"xrdb", "-remove"}, 10);
    session->stop(scaledGtk->pid);
    session->stop(scaledQt->pid);
}

// How reported coordinates map to the screen, from a top-level against its window, as measured:
// GTK 3 at 2× (its frame against the window manager's), Qt 6 at 2× across two monitors (its client
// area), Chromium at 2× (its interface in logical pixels), and the same application at 1×.
TEST(AtspiScale, TheScaleAndTheWayOfEachToolkitComeFromItsWindow)
{
    const std::vector<Rect> monitors {Rect(0, 0, 1440, 900), Rect(1440, 0, 1440, 900)};
    const struct {
        const char* toolkit;
        Rect reported;
        AtspiScale::WindowPixels window;
        bool qt;
        double scale;
        Point probe, probeOnScreen;
    } cases[] = {
        {"GTK 3 at 2×", Rect(60, 17, 521, 433), {Rect(121, 55, 1040, 840), Rect(120, 34, 1042, 866), Rect(121, 55, 1040, 840)}, false,
            2, {81, 80}, {162, 160}},
        {"Qt 6 at 2×", Rect(700, 80, 520, 420), {Rect(1400, 160, 1040, 840), Rect(1399, 140, 1042, 861), Rect(1400, 160, 1040, 840)},
            true, 2, {1452, 173}, {1464, 346}},
        {"Chromium at 2×", Rect(0, 10, 720, 438), {Rect(1, 20, 1438, 875), Rect(0, 0, 1440, 896), Rect(1, 20, 1438, 875)}, false, 2,
            {40, 30}, {80, 60}},
        {"GTK 3 at 1×", Rect(60, 80, 522, 446), {Rect(61, 100, 520, 420), Rect(60, 80, 522, 446), Rect(61, 100, 520, 420)}, false, 1,
            {81, 80}, {81, 80}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.toolkit);
        const auto mapping = AtspiScale::detect({Rect(0, 0, 0, 0), c.reported}, c.window, monitors, c.qt);
        ASSERT_TRUE(mapping);
        EXPECT_EQ(mapping->scale, c.scale);
        EXPECT_EQ(mapping->toRoot(c.probe), c.probeOnScreen);
        EXPECT_EQ(mapping->fromRoot(c.probeOnScreen), c.probe);
    }
    // A web page inside the scaled browser speaks root pixels; the browser's own parts do not.
    const auto chromium = AtspiScale::detect({Rect(0, 10, 720, 438)}, {Rect(1, 20, 1438, 875), Rect(0, 0, 1440, 896), {}}, monitors, false);
    ASSERT_TRUE(chromium);
    EXPECT_TRUE(chromium->documentInRootPixels(Rect(0, 20, 1440, 876)));
    EXPECT_FALSE(chromium->documentInRootPixels(Rect(0, 20, 720, 430)));
    // A top-level that fits the window under no scale: its coordinates are taken as they come.
    EXPECT_FALSE(AtspiScale::detect({Rect(0, 0, 300, 700)}, {Rect(0, 0, 1040, 840), Rect(0, 0, 1040, 840), {}}, monitors, false));
}

} // namespace
} // namespace zorvane::testing
