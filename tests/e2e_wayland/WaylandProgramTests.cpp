// The built program on each Wayland desktop, as a user meets it there: a trigger, the frozen
// desktop on both outputs, a dragged rectangle over a green window, the panel beside it, a typed
// question, and codex given exactly the dragged area in green. GNOME's remembered "no" shows what
// to do instead. With each desktop's helper (sway's IPC, our KWin script, our GNOME Shell extension)
// a click on a button in a window beside the green one gives that button; on KWin and GNOME a shake
// of the pointer brings the overlay.
#include "app/platform/linux/wayland/GnomeShellExtension.h"
#include "tests/fakes/RecordingCodex.h"
#include "tests/support/WaylandWorld.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace zorvane::testing {
namespace {

namespace fs = std::filesystem;

const std::string fakeCodex = fakes::recordingCodex("printf 'Es **verde**.\\n' > \"$answer\"");

std::string readFile(const fs::path& path)
{
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

// A user of Zorvane on this desktop: codex in ~/.local/bin, the first-run window done, the
// program running; `keep` keeps a screenshot for a person to look at.
struct User {
    WaylandWorld& world;
    pid_t program = -1;

    explicit User(WaylandWorld& w) : world(w)
    {
        std::ofstream(world.home() / ".local/bin/codex") << fakeCodex;
        fs::permissions(world.home() / ".local/bin/codex", fs::perms::owner_all);
        fs::create_directories(world.home() / ".config/zorvane");
        std::ofstream(world.home() / ".config/zorvane/preferences.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>onboardingVersion</key>"
               "<integer>1</integer></dict></plist>\n";
        program = world.spawn({ZORVANE_PROGRAM});
    }
    void keep(const std::string& name)
    {
        if (std::getenv("ZORVANE_SCREENSHOT_DIR")) world.screenshot(name);
    }
    bool select() { return world.processes().waitForExit(world.spawn({ZORVANE_PROGRAM, "--select"}), 10) == 0; }
    // The hint pill at the top of each output shows only on the overlay.
    bool overlayOnBothOutputs()
    {
        for (const auto& o : world.outputs()) {
            const auto p = world.pixel(o.x + o.width / 2, o.y + 25);
            if (!p || (*p >> 16 & 0xff) > 0x40 || (*p >> 8 & 0xff) > 0x40) return false;
        }
        return true;
    }
    void drag(int x, int y, int width, int height)
    {
        world.pointerTo(x - 20, y - 20);
        world.pointerTo(x, y);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        world.button(true);
        for (int step = 1; step <= 4; ++step) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            world.pointerTo(x + width * step / 4, y + height * step / 4);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        world.button(false);
    }
    // Typed into the panel; Return sends it once the picture is there (pressed again until then).
    bool ask(const std::string& question)
    {
        world.type(question);
        return waitUntil(15, [&] {
            world.key("Return");
            return waitUntil(1, [&] { return fs::exists(world.home() / "prompt.txt"); });
        });
    }
};

std::pair<std::uint32_t, std::uint32_t> pngSize(const std::string& png)
{
    const auto be = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(png.at(at))) << 24 | std::uint8_t(png.at(at + 1)) << 16 | std::uint8_t(png.at(at + 2)) << 8
            | std::uint8_t(png.at(at + 3));
    };
    return png.size() >= 24 ? std::pair {be(16), be(20)} : std::pair {0u, 0u};
}

// A purple 240×80 button 40 px into a window of its own (nothing else on the desktops is purple).
constexpr const char* buttonWindow = "import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk, Gdk\n"
    "css = Gtk.CssProvider(); css.load_from_data(b'#target { background: #7b2cbf; border: none; box-shadow: none; }')\n"
    "Gtk.StyleContext.add_provider_for_screen(Gdk.Screen.get_default(), css, 600)\n"
    "w = Gtk.Window(title='Botones'); b = Gtk.Button(label='Enviar'); b.set_name('target'); b.set_size_request(240, 80)\n"
    "b.set_halign(Gtk.Align.START); b.set_valign(Gtk.Align.START); b.set_margin_start(40); b.set_margin_top(40)\n"
    "w.add(b); w.connect('destroy', Gtk.main_quit); w.show_all(); Gtk.main()\n";
// Where on the layout a colour shows, as ImageMagick's "WxH+X+Y"; empty when nowhere.
std::string whereColour(WaylandWorld& world, const std::string& hex)
{
    std::string box;
    const auto shot = world.screenshot("where");
    world.processes().run({"convert", shot.string(), "-alpha", "off", "-fill", "black", "+opaque", "#" + hex, "-fill", "white", "-opaque", "#" + hex,
                              "-format", "%@", "info:"}, 10, &box);
    return box.find('+') == std::string::npos || box.rfind("0x0", 0) == 0 ? std::string() : box;
}

class WaylandProgram : public ::testing::TestWithParam<WaylandDesktop> {};

TEST_P(WaylandProgram, SelectsADraggedAreaOfTheFrozenDesktopAndAsksAboutIt)
{
    // GNOME: our extension, installed as the settings install it, runs from the shell's start.
    WaylandWorld world(GetParam(), [&] {
        if (GetParam() != WaylandDesktop::gnome) return;
        GnomeShellExtension(ZORVANE_GNOME_EXTENSION).install();
        // GLib would end this process when the world's bus, which GNOME's settings reached, goes.
        if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
            g_dbus_connection_set_exit_on_close(bus, FALSE);
            g_object_unref(bus);
        }
    });
    if (GetParam() == WaylandDesktop::gnome) world.rememberScreenshotAnswer(true);
    // KDE's portal would need a pictures folder: without one, only KWin's own interface can
    // capture, which answers Zorvane because its launcher entry asks.
    if (GetParam() == WaylandDesktop::kwin) std::ofstream(world.home() / "Pictures");
    world.startColourWindow("2a9d4b");
    // The button's window: sway tiles it beside the green one; KWin and GNOME Shell place it over it.
    ASSERT_TRUE(waitUntil(10, [&] { return world.pixel(300, 300) == 0x2a9d4bu; }));
    const pid_t buttonWindowPid = world.processes().start({"/usr/bin/python3", "-c", buttonWindow}, {{"GDK_BACKEND", "wayland"}});
    // Where it stays: GNOME Shell grows a new window into place.
    std::string purpleButton;
    ASSERT_TRUE(waitUntil(10, [&] {
        const std::string before = purpleButton;
        purpleButton = whereColour(world, "7b2cbf");
        return !purpleButton.empty() && purpleButton == before;
    })) << "no button window";
    User user(world);
    ASSERT_TRUE(waitUntil(15, [&] { return fs::exists(world.home() / ".local/share/applications/com.quenvar.Zorvane.desktop"); }));
    ASSERT_TRUE(waitUntil(15, [&] { return world.pixel(300, 300) == 0x2a9d4bu; })) << "no green window";

    {
        // The button is found under the pointer where its window is, not the area around the pointer.
        int width = 0, height = 0, x = 0, y = 0;
        char by = 0, plus = 0;
        std::istringstream(purpleButton) >> width >> by >> height >> plus >> x >> plus >> y;
        ASSERT_GT(x + y, 120) << "the button's window is at the origin";
        x += width / 2;
        y += height / 2;
        if (GetParam() != WaylandDesktop::sway) {
            // KWin's and GNOME Shell's helpers report the pointer: a shake over the desktop brings the overlay (again
            // until the helper has started).
            const bool shaken = waitUntil(15, [&] {
                for (int stroke = 0; stroke < 10; ++stroke) {
                    for (int step = 1; step <= 4; ++step) {
                        world.pointerTo(stroke % 2 ? 1200 - 75 * step : 900 + 75 * step, 500);
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    }
                }
                return waitUntil(3, [&] { return user.overlayOnBothOutputs(); });
            });
            if (!shaken) user.keep("wayland-kwin-no-shake");
            ASSERT_TRUE(shaken) << "a shake brought no overlay";
        } else {
            ASSERT_TRUE(user.select());
            ASSERT_TRUE(waitUntil(10, [&] { return user.overlayOnBothOutputs(); }));
        }
        // Each screenshot passes the pointer over the corners: it comes back, and the lookup follows.
        user.keep("wayland-button-hover");
        world.pointerTo(x - 30, y - 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        world.pointerTo(x, y);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        world.button(true);
        world.button(false);
        ASSERT_TRUE(waitUntil(20, [&] {
            const auto p = world.pixel(x, y + 40 + 18 + 40);
            return p && (*p >> 16 & 0xff) > 0xe0 && (*p & 0xff) > 0xe0;
        })) << "no panel below the button";
        user.keep("wayland-button-panel");
        ASSERT_TRUE(user.ask("que hace este boton"));
        EXPECT_EQ(pngSize(readFile(world.home() / "received.png")), std::pair(240u, 80u));
        std::string pixel;
        world.processes().run({"convert", (world.home() / "received.png").string(), "-format", "%[hex:p{20,10}]", "info:"}, 10, &pixel);
        EXPECT_EQ(pixel.substr(0, 6), "7B2CBF") << "the picture is not the purple button";
        // KWin and GNOME Shell: the answer stays up over the green window; the next selection hides it,
        // and neither its frozen desktop nor the picture cut from it may show the panel (checked below:
        // green). On sway the drag after a just-hidden answer was now and then not received (not
        // understood yet): a new start clears the answer there.
        fs::remove(world.home() / "prompt.txt");
        if (GetParam() == WaylandDesktop::sway) {
            ::kill(user.program, SIGTERM);
            ASSERT_EQ(world.processes().waitForExit(user.program, 10), 0);
            user.program = world.spawn({ZORVANE_PROGRAM});
        }
        world.processes().stop(buttonWindowPid);
    }

    // KDE: the portal's shortcut; elsewhere `Zorvane --select`, as a desktop shortcut runs it.
    if (GetParam() == WaylandDesktop::kwin) {
        ASSERT_TRUE(waitUntil(15, [&] {
            world.key("space", true);
            return waitUntil(2, [&] { return user.overlayOnBothOutputs(); });
        })) << "Ctrl+Alt+Espacio brought no overlay";
    } else {
        ASSERT_TRUE(waitUntil(15, [&] { return user.select(); }));
        const bool shown = waitUntil(10, [&] { return user.overlayOnBothOutputs(); });
        if (!shown) user.keep("wayland-no-overlay");
        ASSERT_TRUE(shown) << "no overlay on both outputs";
    }
    user.keep("wayland-overlay");

    user.drag(200, 150, 240, 120);
    const bool panel = waitUntil(20, [&] {
        const auto p = world.pixel(320, 150 + 120 + 18 + 40);
        return p && (*p >> 16 & 0xff) > 0xe0 && (*p & 0xff) > 0xe0;
    });
    if (!panel) user.keep("wayland-no-panel");
    ASSERT_TRUE(panel) << "no panel below the selection";
    user.keep("wayland-panel");
    ASSERT_TRUE(user.ask("de que color es"));
    EXPECT_NE(readFile(world.home() / "prompt.txt").find("de que color es"), std::string::npos);
    const std::string png = readFile(world.home() / "received.png");
    EXPECT_EQ(pngSize(png), std::pair(240u, 120u));
    std::string centre;
    world.processes().run({"convert", (world.home() / "received.png").string(), "-format", "%[hex:p{120,60}]", "info:"}, 10, &centre);
    EXPECT_EQ(centre.substr(0, 6), "2A9D4B") << "the picture is not the green window";
    // The frozen desktop goes with the question; the label over the selection with it.
    EXPECT_TRUE(waitUntil(10, [&] {
        const auto p = world.pixel(210, 120);
        return p && (*p >> 8 & 0xff) > 0x60;
    })) << "the frozen desktop stayed";
    user.keep("wayland-answer");
    const fs::path pictures = world.home() / "Pictures";
    EXPECT_TRUE(!fs::is_directory(pictures) || fs::is_empty(pictures)) << "a capture was left on the disk";
}

INSTANTIATE_TEST_SUITE_P(Desktops, WaylandProgram, ::testing::Values(WaylandDesktop::sway, WaylandDesktop::kwin, WaylandDesktop::gnome),
    [](const auto& info) { return std::string(info.param == WaylandDesktop::sway ? "sway" : info.param == WaylandDesktop::kwin ? "KWin" : "GNOME"); });

TEST(WaylandProgramOnGnome, SaysHowToAllowScreenshotsWhenGnomeRemembersANo)
{
    WaylandWorld world(WaylandDesktop::gnome);
    world.rememberScreenshotAnswer(false);
    User user(world);
    ASSERT_TRUE(waitUntil(15, [&] { return user.select(); }));
    // The message over the live desktop, and nothing taken.
    ASSERT_TRUE(waitUntil(10, [&] {
        const auto p = world.pixel(640, 400);
        return p && (*p & 0xff) < 0x30;
    })) << "no message";
    user.keep("wayland-gnome-refused");
    world.key("Escape");
    EXPECT_TRUE(waitUntil(10, [&] {
        const auto p = world.pixel(640, 400);
        return p && (*p & 0xff) > 0x30;
    })) << "Escape left the message up";
}

} // namespace
} // namespace zorvane::testing
