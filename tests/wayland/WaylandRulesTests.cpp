#include "app/platform/linux/wayland/CompositorWindows.h"
#include "app/platform/linux/wayland/DesktopSnapshot.h"
#include "app/platform/linux/wayland/HelperWindowFeed.h"
#include "app/platform/linux/wayland/GnomeCustomShortcut.h"
#include "app/platform/linux/wayland/GnomeShellExtension.h"
#include "app/platform/linux/wayland/WaylandSession.h"

#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <cstdlib>

namespace zorvane {
namespace {

// Two screens side by side: the left one at 2 pixels per point, red, the right one at 1, blue.
DesktopSnapshot twoScreens()
{
    QImage left(200, 100, QImage::Format_RGB32), right(60, 50, QImage::Format_RGB32);
    left.fill(QColor(255, 0, 0));
    right.fill(QColor(0, 0, 255));
    return {{{Rect(0, 0, 100, 50), left}, {Rect(100, 0, 60, 50), right}}};
}

std::uint32_t firstPixel(const WindowImage& image)
{
    return image.pixels[0] | image.pixels[1] << 8 | image.pixels[2] << 16; // blue, green, red
}

TEST(DesktopSnapshot, CropsARectangleAtThePixelDensityOfTheScreenHoldingMostOfIt)
{
    struct Row {
        Rect rect;
        std::uint32_t width, height;
        double scale;
        std::uint32_t colour;
    };
    const Row rows[] = {
        {Rect(10, 10, 20, 10), 40, 20, 2, 0xff0000},  // on the 2× screen: twice the points
        {Rect(110, 5, 30, 20), 30, 20, 1, 0x0000ff},  // on the 1× screen
        {Rect(70, 0, 40, 10), 60, 20, 2, 0xff0000},   // across both: the part on the screen with more of it
        {Rect(150, 40, 30, 30), 10, 10, 1, 0x0000ff}, // hanging off the desktop: what is on it
    };
    const DesktopSnapshot snapshot = twoScreens();
    for (const Row& row : rows) {
        const auto image = snapshot.crop(row.rect);
        ASSERT_TRUE(image) << row.rect.minX();
        EXPECT_EQ(std::pair(image->width, image->height), std::pair(row.width, row.height)) << row.rect.minX();
        EXPECT_EQ(image->scale, row.scale);
        EXPECT_EQ(image->stride, image->width * 4u);
        EXPECT_EQ(firstPixel(*image), row.colour);
    }
    EXPECT_FALSE(snapshot.crop(Rect(500, 500, 10, 10))) << "nothing of the desktop there";
}

TEST(DesktopSnapshot, APictureOfTheWholeLayoutGivesEachScreenItsPart)
{
    QImage whole(320, 100, QImage::Format_RGB32); // a desktop of 160 × 50 points at 2×
    const auto snapshot = DesktopSnapshot::ofLayout(whole, {Rect(0, 0, 100, 50), Rect(100, 0, 60, 40)});
    EXPECT_EQ(snapshot.frameOf(Rect(100, 0, 60, 40)).source, QRectF(200, 0, 120, 80));
}

TEST(WaylandSession, TellsTheDesktopFromItsName)
{
    using wayland::Desktop;
    const std::pair<const char*, Desktop> rows[] = {{"GNOME", Desktop::gnome}, {"ubuntu:GNOME", Desktop::gnome}, {"KDE", Desktop::kde},
        {"sway", Desktop::wlroots}, {"Hyprland", Desktop::wlroots}, {"XFCE", Desktop::other}, {"", Desktop::other}};
    for (const auto& [name, desktop] : rows) EXPECT_EQ(wayland::desktopNamed(name), desktop) << name;
}

TEST(GnomeCustomShortcut, TakesTheFirstKeysGnomeDoesNotUseAndNamesThemForTheUser)
{
    const std::vector<std::string> candidates {"<Control><Alt>space", "<Control><Alt>z"};
    EXPECT_EQ(GnomeCustomShortcut::firstFree(candidates, {"<Super>space"}), "<Control><Alt>space");
    EXPECT_EQ(GnomeCustomShortcut::firstFree(candidates, {"<Alt><Primary>Space"}), "<Control><Alt>z") << "same keys, other spelling";
    EXPECT_EQ(GnomeCustomShortcut::firstFree(candidates, {"<Ctrl><Alt>space", "<Control><Alt>Z"}), std::nullopt);
    EXPECT_EQ(GnomeCustomShortcut::readable("<Control><Alt>space"), "Ctrl+Alt+Espacio");
    EXPECT_EQ(GnomeCustomShortcut::readable("<Super><Alt>z"), "Super+Alt+Z");
}


// sway's tree as 1.7 gives it (trimmed): the first output shows workspace 1 with a window tiled on
// the left, a tabbed pair on the right (the second tab in front) and two floating windows, the
// later one (under XWayland) drawn over the earlier; workspace 2 and the scratchpad are not shown;
// the second output shows our fullscreen overlay over a tiled window.
constexpr const char* swayTree = R"({"type": "root", "nodes": [
  {"type": "output", "name": "__i3", "nodes": [{"type": "workspace", "name": "__i3_scratch", "floating_nodes": [
    {"type": "con", "id": 90, "pid": 90, "name": "oculta", "rect": {"x": 0, "y": 0, "width": 50, "height": 50}, "window_rect": {"x": 0, "y": 0, "width": 50, "height": 50}}]}]},
  {"type": "output", "name": "HEADLESS-1", "current_workspace": "1", "nodes": [
    {"type": "workspace", "name": "1", "layout": "splith", "nodes": [
      {"type": "con", "id": 10, "pid": 10, "name": "Izquierda", "app_id": "gedit", "shell": "xdg_shell", "rect": {"x": 0, "y": 0, "width": 640, "height": 800}, "window_rect": {"x": 2, "y": 20, "width": 636, "height": 778}},
      {"type": "con", "id": 11, "layout": "tabbed", "focus": [13, 12], "rect": {"x": 640, "y": 0, "width": 640, "height": 800}, "nodes": [
        {"type": "con", "id": 12, "pid": 12, "name": "Pestaña detrás", "rect": {"x": 640, "y": 30, "width": 640, "height": 770}, "window_rect": {"x": 0, "y": 0, "width": 640, "height": 770}},
        {"type": "con", "id": 13, "pid": 13, "name": "Pestaña delante", "focused": true, "rect": {"x": 640, "y": 30, "width": 640, "height": 770}, "window_rect": {"x": 0, "y": 0, "width": 640, "height": 770}}]}],
     "floating_nodes": [
      {"type": "con", "id": 20, "pid": 20, "name": "Flotante", "rect": {"x": 100, "y": 100, "width": 300, "height": 200}, "window_rect": {"x": 0, "y": 0, "width": 300, "height": 200}},
      {"type": "con", "id": 21, "pid": 21, "name": "X11", "shell": "xwayland", "window_properties": {"class": "Firefox"}, "rect": {"x": 300, "y": 150, "width": 300, "height": 200}, "window_rect": {"x": 0, "y": 0, "width": 300, "height": 200}}]},
    {"type": "workspace", "name": "2", "nodes": [
      {"type": "con", "id": 30, "pid": 30, "name": "Otro escritorio", "rect": {"x": 0, "y": 0, "width": 1280, "height": 800}, "window_rect": {"x": 0, "y": 0, "width": 1280, "height": 800}}]}]},
  {"type": "output", "name": "HEADLESS-2", "current_workspace": "3", "nodes": [
    {"type": "workspace", "name": "3", "nodes": [
      {"type": "con", "id": 40, "pid": 40, "name": "Debajo", "rect": {"x": 1280, "y": 0, "width": 1024, "height": 768}, "window_rect": {"x": 0, "y": 0, "width": 1024, "height": 768}},
      {"type": "con", "id": 41, "pid": 41, "name": "Zorvane", "fullscreen_mode": 1, "rect": {"x": 1280, "y": 0, "width": 1024, "height": 768}, "window_rect": {"x": 0, "y": 0, "width": 1024, "height": 768}}]}]}]})";

TEST(CompositorWindows, SwaysTreeGivesTheWindowsAPersonSeesFrontToBackAndWhichIsUnderEachPoint)
{
    const auto windows = compositor_windows::fromSwayTree(swayTree);
    ASSERT_TRUE(windows);
    std::vector<std::string> titles;
    for (const auto& w : *windows) titles.push_back(w.title);
    EXPECT_EQ(titles, (std::vector<std::string> {"X11", "Flotante", "Izquierda", "Pestaña delante", "Zorvane", "Debajo"}));
    const auto& left = windows->at(2);
    EXPECT_EQ(left.client, Rect(2, 20, 636, 778)) << "the client area is the window inside its border";
    EXPECT_EQ(left.appID, "gedit");
    EXPECT_TRUE(left.windowRelative);
    EXPECT_FALSE(windows->at(0).windowRelative) << "XWayland's windows speak the layout's coordinates";
    EXPECT_EQ(windows->at(0).appID, "Firefox");
    EXPECT_TRUE(windows->at(3).active);

    const struct {
        Point at;
        const char* title; // none: no application there
    } rows[] = {
        {{350, 160}, "X11"},             // the later floating window over the earlier
        {{150, 120}, "Flotante"},        // a floating window over a tiled one
        {{50, 500}, "Izquierda"},
        {{1, 10}, nullptr},              // the border of a tiled window is no application's
        {{900, 400}, "Pestaña delante"}, // the tab in front
        {{1500, 300}, "Debajo"},         // our fullscreen overlay hides nothing
        {{2400, 300}, nullptr},          // off the layout
    };
    for (const auto& row : rows) {
        const CompositorWindow* found = compositor_windows::at(*windows, row.at, 41);
        EXPECT_EQ(found ? found->title : "-", row.title ? row.title : "-") << row.at.x << "," << row.at.y;
    }
    EXPECT_FALSE(compositor_windows::fromSwayTree(R"({"success": false})"));
    EXPECT_FALSE(compositor_windows::fromSwayTree("no es JSON"));
}

// A native window's elements, which it reports relative to its client area, land where the window
// is in the core's points (origin: the primary output's corner, here the layout's (1280, 0)).
TEST(CompositorWindows, ANativeWindowsElementsAreFoundAndFramedWhereTheWindowIs)
{
    CompositorWindows windows([] { return Point {1280, 0}; }, nullptr);
    EXPECT_FALSE(windows.topmostApplicationWindow({10, 10}, 1)) << "nothing reported yet";
    windows.publish(*compositor_windows::fromSwayTree(swayTree));
    const RootCoordinates coordinates = windows.rootCoordinates(41);
    const Point pointer {-1280 + 700, 130}; // over "Pestaña delante", 60 px into its client area, 100 down
    const auto window = windows.topmostApplicationWindow(pointer, 41);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->ownerPID, 13);
    const Point layout = coordinates.rootPixelsOf(pointer);
    const auto pixels = coordinates.windowAt(13, layout);
    ASSERT_TRUE(pixels);
    EXPECT_FALSE(coordinates.windowAt(12, layout)) << "the tab behind is not under the pointer";
    EXPECT_EQ(pixels->title, "Pestaña delante");
    const auto mapping = AtspiScale::windowRelative(*pixels, Rect(0, 0, 640, 770));
    EXPECT_EQ(mapping.fromRoot(layout), Point(60, 100));
    EXPECT_EQ(coordinates.quartzRectOf(mapping.toRoot(Rect(40, 90, 240, 80))), Rect(-1280 + 680, 120, 240, 80));
    // XWayland's window: as on X11, no mapping of its own.
    const auto x11 = coordinates.windowAt(21, coordinates.rootPixelsOf({-1280 + 350, 160}));
    ASSERT_TRUE(x11);
    EXPECT_FALSE(x11->windowRelative);
    windows.forget();
    EXPECT_FALSE(windows.onScreenWindows()) << "a list that stopped coming is not trusted";
}

// What KWin's script and GNOME Shell's extension send: a GTK window that draws its own shadows
// (its surface larger than its client area) over a window whose surface they do not give.
TEST(CompositorWindows, TheHelpersReportGivesEachWindowsClientAreaAndWhereItsCoordinatesStart)
{
    const auto windows = HelperWindowFeed::windowsFromReport(QStringLiteral(R"({"version": 1, "windows": [
        {"pid": 7, "title": "Botones", "app": "python3", "x": 50, "y": 82, "width": 280, "height": 157,
         "surface": {"x": 27, "y": 64, "width": 326, "height": 203}, "active": true},
        {"pid": 8, "title": "Color", "app": "", "x": 0, "y": 32, "width": 1280, "height": 768, "active": false}]})"));
    ASSERT_TRUE(windows);
    ASSERT_EQ(windows->size(), 2u);
    EXPECT_EQ(windows->at(0).client, Rect(50, 82, 280, 157));
    EXPECT_EQ(windows->at(0).surface, Rect(27, 64, 326, 203));
    EXPECT_TRUE(windows->at(0).active);
    EXPECT_FALSE(windows->at(1).surface);
    // The button 40 px into the client area, as GTK reports it from the surface's corner.
    CompositorWindows list([] { return Point {0, 0}; }, nullptr);
    list.publish(*windows);
    const auto pixels = list.rootCoordinates(1).windowAt(7, {100, 150});
    ASSERT_TRUE(pixels);
    EXPECT_EQ(AtspiScale::windowRelative(*pixels, Rect(0, 0, 326, 203)).toRoot(Rect(63, 58, 240, 80)), Rect(90, 122, 240, 80));
    EXPECT_FALSE(HelperWindowFeed::windowsFromReport(QStringLiteral("[]")));
}

} // namespace
TEST(GnomeShellExtension, AnOlderInstalledCopyIsReplacedAndNoneIsInstalledUnasked)
{
    fakes::TemporaryDirectory home;
    const auto shipped = home / "shipped", installed = home / "data/gnome-shell/extensions" / GnomeShellExtension::uuid;
    fakes::writeFile(shipped / "extension.js", "// version 2");
    fakes::writeFile(shipped / "metadata.json", "{\"version\": 2}");
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    const GnomeShellExtension extension(shipped);
    extension.replaceIfOther();
    EXPECT_FALSE(std::filesystem::exists(installed)) << "installed without the user's word";
    fakes::writeFile(installed / "extension.js", "// version 1");
    fakes::writeFile(installed / "metadata.json", "{\"version\": 1}");
    extension.replaceIfOther();
    EXPECT_EQ(fakes::readFile(installed / "extension.js"), "// version 2");
    EXPECT_EQ(fakes::readFile(installed / "metadata.json"), "{\"version\": 2}");
    ::unsetenv("XDG_DATA_HOME");
}

} // namespace zorvane
