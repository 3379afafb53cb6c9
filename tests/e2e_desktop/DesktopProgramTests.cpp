// The built program on a private desktop, as a user meets it: from the tray through the overlay,
// the panel and two questions to "Salir", leaving nothing behind.
#include "tests/fakes/RecordingCodex.h"
#include "tests/fakes/TemporaryDirectory.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/X11Client.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

namespace zorvane::testing {
namespace {

namespace fs = std::filesystem;
using fakes::readFile;

// `codex` answers in Markdown or, while ~/hang exists, never answers.
const std::string fakeCodex = fakes::recordingCodex(
    "[ -f \"$HOME/hang\" ] && echo $$ > \"$HOME/codex.pid\" && exec sleep 300\n"
    "printf '## Guardar\\n\\nEs **el botón** que guarda la nota.\\n\\n- Atajo: `Ctrl+S`\\n' > \"$answer\"");

// A PNG's width and height, from its header.
std::pair<double, double> pngSize(const std::string& png)
{
    const auto be = [&](std::size_t at) {
        return at + 4 <= png.size() ? double(std::uint32_t(std::uint8_t(png[at])) << 24 | std::uint8_t(png[at + 1]) << 16
                                          | std::uint8_t(png[at + 2]) << 8 | std::uint8_t(png[at + 3]))
                                    : 0;
    };
    return {be(16), be(20)};
}

bool dark(std::uint32_t rgb) { return (rgb >> 16 & 0xff) < 0x60 && (rgb >> 8 & 0xff) < 0x60 && (rgb & 0xff) < 0x60; }

TEST(DesktopProgram, WalksFromTheTrayToAnAnswerAndQuitsClean)
{
    const std::string homeBefore = std::getenv("HOME") ? std::getenv("HOME") : "";
    fs::path home;
    pid_t notesProgram = 0;
    {
        DesktopSession session({.tray = true});
        home = session.home();
        const fs::path temporary = home / "tmp";
        fs::create_directories(temporary);
        fakes::writeFile(home / ".local/bin/codex", fakeCodex);
        fs::permissions(home / ".local/bin/codex", fs::perms::owner_all);
        const std::map<std::string, std::string> environment {{"TMPDIR", temporary.string()}};
        X11Client x;
        const auto window = [&](const std::string& name, int width) -> std::optional<WindowOnScreen> {
            for (const auto& w : x.windows())
                if (w.name == name && (w.width == width || (width == 0 && w.width <= 32 && w.height <= 32))) return w;
            return std::nullopt;
        };
        // The monitor-sized override-redirect windows at the top of the stack.
        const auto overlayOnTop = [&] {
            const auto stack = x.windows(false);
            auto w = stack.rbegin();
            while (w != stack.rend() && w->overrideRedirect && w->width == 1440 && w->height == 900) ++w;
            return w - stack.rbegin();
        };
        // Return does nothing while the picture is being taken: the user presses it again.
        const auto ask = [&](const char* question) {
            fs::remove(home / "prompt.txt");
            session.processes().run({"xdotool", "type", "--delay", "5", question}, 20);
            return waitUntil(15, [&] {
                x.typeKey("Return");
                return waitUntil(1, [&] { return fs::exists(home / "prompt.txt"); });
            });
        };

        // Assistive technologies on, as a screen reader leaves them.
        session.processes().run({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                                    "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:IsEnabled",
                                    "variant:boolean:true"}, 10);
        const auto notes = session.startGtkWindow("Notas");
        ASSERT_TRUE(notes);
        notesProgram = notes->pid;
        const Rect button = notes->widgets.at("button");
        const Rect picture = notes->widgets.at("picture");
        // Notas with the keyboard (once the overlay has let go of it); the keys it has received,
        // once the marker typed into it arrives.
        const auto typeIntoNotes = [&](const char* marker) {
            waitUntil(5, [&] { return x.keyboardFree(); });
            for (const auto& w : x.windows())
                if (w.name == "Notas") x.focus(w.id);
            x.typeKey(marker);
            std::string keys;
            waitUntil(5, [&] { return (keys = readFile(notes->keys)).ends_with(std::string(marker) + "\n"); });
            return keys;
        };
        // A spot of the Notas window that nothing of ours covers.
        const int spotX = int(notes->widgets.at("window").maxX()) - 10, spotY = int(notes->widgets.at("window").minY()) + 5;

        const pid_t program = session.spawn({ZORVANE_PROGRAM}, environment);
        ASSERT_TRUE(waitUntil(10, [&] { return window("Zorvane", 0).has_value(); })) << "no icon in the tray";
        session.screenshot("desktop-tray");
        ASSERT_EQ(typeIntoNotes("a"), "a\n");

        // `Zorvane --select` hands over and the first instance covers both monitors.
        EXPECT_EQ(session.processes().waitForExit(session.spawn({ZORVANE_PROGRAM, "--select"}, environment), 5), 0);
        ASSERT_TRUE(waitUntil(5, [&] { return overlayOnTop() == 2; })) << "no overlay on top of both monitors";
        EXPECT_FALSE(dark(x.pixel(spotX, spotY))) << "the overlay shows black, not the screen";
        const auto stack = x.windows(false);
        EXPECT_TRUE(std::none_of(stack.end() - 2, stack.end(), [&](auto& w) { return w.id == x.focused(); }))
            << "the overlay took the keyboard";
        session.screenshot("desktop-overlay");
        x.typeKey("Escape");
        EXPECT_TRUE(waitUntil(5, [&] { return overlayOnTop() == 0; })) << "Escape left the overlay";
        EXPECT_EQ(typeIntoNotes("b"), "a\nb\n") << "Escape reached the application under the overlay";

        // From the keyboard: the pointer comes to rest on the picture the way a hand moves it, in
        // steps the overlay follows; Left outlines the button beside it and Enter picks it. The panel
        // opens below it, 18 points away, with the keyboard.
        EXPECT_EQ(session.processes().waitForExit(session.spawn({ZORVANE_PROGRAM, "--select"}, environment), 5), 0);
        ASSERT_TRUE(waitUntil(5, [&] { return overlayOnTop() == 2; }));
        x.moveTo(int(picture.midX()) - 20, int(picture.midY()) - 12);
        for (int step = 0; step < 4; ++step) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            x.moveBy(5, 3);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        x.typeKey("Left");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        session.screenshot("desktop-overlay-keyboard");
        x.typeKey("Return");
        std::optional<WindowOnScreen> panel;
        ASSERT_TRUE(waitUntil(5, [&] { return (panel = window("Zorvane", 500)) && panel->x >= 12; })) << "no panel";
        EXPECT_EQ(panel->y, button.maxY() + 18) << "button at " << button.minX() << "," << button.minY();
        EXPECT_LE(panel->x, button.midX());
        EXPECT_TRUE(waitUntil(5, [&] { return x.focused() == panel->id; })) << "the panel has no keyboard";
        session.screenshot("desktop-panel");

        // The question, typed into the panel, goes to codex with the picture and the answer grows
        // the panel. (ASCII only: xdotool loses accented letters it has to map onto spare keycodes.)
        ASSERT_TRUE(ask("Que hace este boton"));
        EXPECT_NE(readFile(home / "prompt.txt").find("Que hace este boton"), std::string::npos) << readFile(home / "prompt.txt");
        EXPECT_EQ(pngSize(readFile(home / "received.png")), std::make_pair(button.width(), button.height()));
        ASSERT_TRUE(waitUntil(10, [&] { return window("Zorvane", 640).has_value(); })) << "the panel did not grow";
        session.screenshot("desktop-answer");
        EXPECT_EQ(typeIntoNotes("c"), "a\nb\nc\n") << "the keys of the selection reached the application under it";

        // With a compositor, a shake over the desktop brings the overlay back, showing the screen
        // through it; a drag selects exactly the dragged area, the picture of the next question.
        const pid_t compositor = session.spawn({"xcompmgr"});
        ASSERT_TRUE(waitUntil(10, [&] { return x.selectionOwned("_NET_WM_CM_S0"); }));
        x.moveTo(1900, 600);
        for (int stroke = 0; stroke < 10; ++stroke) {
            for (int step = 0; step < 4; ++step) {
                x.moveBy(stroke % 2 ? -75 : 75, 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        ASSERT_TRUE(waitUntil(5, [&] { return overlayOnTop() == 2; })) << "a shake brought no overlay";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(dark(x.pixel(spotX, spotY))) << "the translucent overlay shows black";
        // A quick drag, without a rest: where each event happened counts, and the release ends it.
        x.moveTo(1600, 300);
        x.button(true);
        for (int step = 0; step < 10; ++step) x.moveBy(20, 10);
        x.button(false);
        EXPECT_TRUE(waitUntil(5, [&] { return overlayOnTop() == 0; }));
        ASSERT_TRUE(waitUntil(5, [&] { return (panel = window("Zorvane", 500)) && x.focused() == panel->id; }));
        ASSERT_TRUE(ask("Y esto"));
        EXPECT_EQ(pngSize(readFile(home / "received.png")), std::make_pair(200.0, 100.0));
        session.stop(compositor);

        // A second launch hands over, ends at once, and the first opens its menu at the pointer. A
        // selection asked for just before, while the screen saver was on, showed nothing over it.
        x.moveTo(1700, 300);
        session.processes().run({"xset", "s", "activate"}, 5);
        EXPECT_EQ(session.processes().waitForExit(session.spawn({ZORVANE_PROGRAM, "--select"}, environment), 5), 0);
        EXPECT_EQ(session.processes().waitForExit(session.spawn({ZORVANE_PROGRAM}, environment), 5), 0);
        std::optional<WindowOnScreen> menu;
        ASSERT_TRUE(waitUntil(5, [&] { return (menu = window("Zorvane", 320)).has_value(); })) << "no menu";
        const auto all = x.windows(false);
        EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](auto& w) { return w.overrideRedirect && w.width == 1440; }))
            << "an overlay over the screen saver";
        EXPECT_NEAR(menu->x, 1700, 8);
        EXPECT_NEAR(menu->y, 300, 8);
        session.screenshot("desktop-menu");

        // "Salir" in the menu ends the program; nothing stays in the temporary folder.
        x.moveTo(menu->x + menu->width - 42, menu->y + menu->height - 28);
        x.click();
        EXPECT_EQ(session.processes().waitForExit(program, 10), 0) << "still running after Salir";
        EXPECT_TRUE(fs::is_empty(temporary));
        const fs::path ours = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "zorvane";
        EXPECT_TRUE(fs::is_empty(ours)) << "a first run left files behind";

        // What a logout sends, in the middle of a question: the tool ends, nothing of ours stays.
        std::ofstream(home / "hang") << "";
        const pid_t again = session.spawn({ZORVANE_PROGRAM}, environment);
        ASSERT_TRUE(waitUntil(10, [&] { return window("Zorvane", 0).has_value(); }));
        EXPECT_EQ(session.processes().waitForExit(session.spawn({ZORVANE_PROGRAM, "--select"}, environment), 5), 0);
        ASSERT_TRUE(waitUntil(5, [&] { return overlayOnTop() == 2; }));
        x.moveTo(int(button.midX()) - 2, int(button.midY()) - 1);
        x.moveBy(2, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        x.click();
        ASSERT_TRUE(waitUntil(5, [&] { return (panel = window("Zorvane", 500)) && x.focused() == panel->id; }));
        ASSERT_TRUE(ask("Espera"));
        const pid_t tool = std::stoi(readFile(home / "codex.pid"));
        ::kill(again, SIGTERM);
        EXPECT_EQ(session.processes().waitForExit(again, 10), 0) << "SIGTERM did not end the program in order";
        EXPECT_NE(::kill(tool, 0), 0) << "codex outlived the program";
        EXPECT_TRUE(fs::is_empty(ours)) << "the picture outlived the program";
    }
    EXPECT_EQ(std::getenv("HOME") ? std::getenv("HOME") : "", homeBefore);
    EXPECT_FALSE(fs::exists(home));
    EXPECT_NE(kill(notesProgram, 0), 0) << "a program outlived its desktop";
}

} // namespace
} // namespace zorvane::testing
