#include "tests/support/DesktopSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace zorvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string run(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
    }
    return out;
}

struct WindowOnScreen {
    int x = 0, y = 0, width = 0, height = 0;
};

// The mapped windows named `name` (a pattern) whose width is `width`, from the window tree.
std::vector<WindowOnScreen> findWindows(const std::string& name, int width)
{
    std::vector<WindowOnScreen> found;
    const std::string tree = run("xwininfo -root -tree 2>/dev/null");
    const std::regex line("(0x[0-9a-f]+) \"" + name + "\": \\([^)]*\\)\\s+(\\d+)x(\\d+)[+-]\\d+[+-]\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), line); it != std::sregex_iterator(); ++it) {
        const WindowOnScreen w {std::stoi((*it)[4]), std::stoi((*it)[5]), std::stoi((*it)[2]), std::stoi((*it)[3])};
        if (w.width == width && run("xwininfo -id " + (*it)[1].str() + " 2>/dev/null").find("IsViewable") != std::string::npos)
            found.push_back(w);
    }
    return found;
}

std::optional<WindowOnScreen> findWindow(const std::string& name, int width)
{
    const auto found = findWindows(name, width);
    return found.empty() ? std::nullopt : std::optional(found.front());
}

// The tray icon is a window named "Zorvane" embedded in trayer's panel.
bool iconInTray()
{
    const std::string tree = run("xwininfo -root -tree 2>/dev/null");
    const auto panel = tree.find("(\"panel\" \"trayer\")");
    return panel != std::string::npos && tree.find("\"Zorvane\"", panel) != std::string::npos;
}

std::optional<int> exitStatus(pid_t pid, std::chrono::milliseconds timeout)
{
    int status = 0;
    const bool ended = waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout);
    if (!ended || !WIFEXITED(status)) return std::nullopt;
    return WEXITSTATUS(status);
}

void keepScreenshot(const DesktopSession& session, const char* name)
{
    if (const char* folder = std::getenv("ZORVANE_SCREENSHOT_DIR")) session.screenshot(fs::path(folder) / (std::string(name) + ".png"));
}

// The GTK window the user asks about: "Notas" with a 160 × 50 "Guardar" button 60 pixels into it.
constexpr const char* notesProgram = R"(import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk
w = Gtk.Window(title="Notas")
w.set_default_size(420, 260)
w.move(120, 140)
f = Gtk.Fixed()
b = Gtk.Button(label="Guardar")
b.set_size_request(160, 50)
f.put(b, 60, 60)
w.add(f)
w.connect("destroy", Gtk.main_quit)
w.show_all()
Gtk.main()
)";

// `codex` as the user has it in ~/.local/bin: signed in; keeps the question and the image it was
// given and answers in Markdown.
constexpr const char* fakeCodex = R"(#!/bin/sh
if [ "$1" = login ]; then echo 'Logged in using ChatGPT' >&2; exit 0; fi
for a in "$@"; do
  [ "$prev" = --output-last-message ] && answer="$a"
  case "$a" in --image=*) cp "${a#--image=}" "$HOME/received.png";; esac
  prev="$a"
done
cat > "$HOME/prompt.txt"
printf '## Guardar\n\nEs **el botón** que guarda la nota.\n\n- Atajo: `Ctrl+S`\n' > "$answer"
)";

std::optional<std::pair<int, int>> clientOrigin(const std::string& name)
{
    const std::string info = run("xwininfo -name '" + name + "' 2>/dev/null");
    const std::regex x("Absolute upper-left X:\\s+(-?\\d+)"), y("Absolute upper-left Y:\\s+(-?\\d+)");
    std::smatch mx, my;
    if (!std::regex_search(info, mx, x) || !std::regex_search(info, my, y)) return std::nullopt;
    return std::make_pair(std::stoi(mx[1]), std::stoi(my[1]));
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// PNG width and height from its header.
std::pair<int, int> pngSize(const std::string& png)
{
    if (png.size() < 24) return {0, 0};
    auto be = [&](std::size_t at) {
        return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16)
            | (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
    };
    return {static_cast<int>(be(16)), static_cast<int>(be(20))};
}

// A user's session from the program's start to "Salir": the icon in the tray; `Zorvane --select`
// opens the overlay; a click on a GTK button opens the panel beside it; a typed question reaches
// `codex` with the button's picture and the answer comes back; a second launch opens the first
// one's menu at the pointer; "Salir" ends it with nothing left in the temporary folder.
TEST(DesktopProgram, WalksFromTheTrayToAnAnswerAndQuitsClean)
{
    DesktopSession session({.twoMonitors = true, .windowManager = true, .accessibilityBus = true, .tray = true});
    const fs::path home = session.home();
    const fs::path temporary = home / "tmp";
    fs::create_directories(temporary);
    fs::create_directories(home / ".local/bin");
    std::ofstream(home / ".local/bin/codex") << fakeCodex;
    fs::permissions(home / ".local/bin/codex", fs::perms::owner_all);
    std::ofstream(home / "notas.py") << notesProgram;
    const std::map<std::string, std::string> environment {{"TMPDIR", temporary.string()}};

    // Assistive technologies on, as a screen reader leaves them.
    run("dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set "
        "string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null 2>&1");
    session.spawn({"/usr/bin/python3", (home / "notas.py").string()});
    ASSERT_TRUE(session.waitForWindow("Notas"));
    // Where the window manager finally put it: the same origin twice in a row.
    std::optional<std::pair<int, int>> notes;
    ASSERT_TRUE(waitUntil([&] {
        const auto before = clientOrigin("Notas");
        std::this_thread::sleep_for(150ms);
        notes = clientOrigin("Notas");
        return notes && before == notes;
    }, 5s));
    const int buttonX = notes->first + 60, buttonY = notes->second + 60;

    const pid_t program = session.spawn({ZORVANE_PROGRAM}, environment);
    ASSERT_TRUE(waitUntil(iconInTray, 10s)) << "no icon in the tray";
    keepScreenshot(session, "desktop-tray");

    // `Zorvane --select` hands over and the first instance covers the screens.
    const pid_t select = session.spawn({ZORVANE_PROGRAM, "--select"}, environment);
    EXPECT_EQ(exitStatus(select, 5s), 0);
    ASSERT_TRUE(waitUntil([] { return findWindows("[^\"]*", 1440).size() >= 2; }, 5s)) << "no overlay on both screens";

    // A click on the button: the panel opens below it, 18 points away. The pointer gets there
    // the way a hand moves it, in steps the overlay follows.
    run("xdotool mousemove " + std::to_string(buttonX + 60) + " " + std::to_string(buttonY + 15));
    for (int step = 0; step < 4; ++step) {
        std::this_thread::sleep_for(40ms);
        run("xdotool mousemove_relative 5 3");
    }
    std::this_thread::sleep_for(300ms);
    keepScreenshot(session, "desktop-overlay");
    run("xdotool click 1");
    std::optional<WindowOnScreen> panel;
    ASSERT_TRUE(waitUntil([&] { return (panel = findWindow("Zorvane", 500)).has_value() && panel->x >= 12; }, 5s))
        << "no panel beside the button";
    EXPECT_EQ(panel->y, buttonY + 50 + 18) << "button at " << buttonX << "," << buttonY << "; panel at " << panel->x << "," << panel->y;
    EXPECT_LE(panel->x, buttonX + 80);
    // The panel has the keyboard.
    EXPECT_TRUE(waitUntil([] { return run("xdotool getactivewindow getwindowname 2>/dev/null") == "Zorvane\n"; }, 5s));
    keepScreenshot(session, "desktop-panel");

    // The question, typed into the panel that has the keyboard, goes to codex with the picture.
    // (ASCII only: xdotool loses accented letters it has to map onto spare keycodes under Xvfb.)
    run("xdotool type --delay 5 'Que hace este boton'");
    run("xdotool key Return");
    ASSERT_TRUE(waitUntil([&] { return findWindow("Zorvane", 640).has_value(); }, 10s)) << "the panel did not grow";
    ASSERT_TRUE(waitUntil([&] { return fs::exists(home / "prompt.txt") && fs::file_size(home / "prompt.txt") > 0; }, 10s));
    EXPECT_NE(readFile(home / "prompt.txt").find("Que hace este boton"), std::string::npos) << readFile(home / "prompt.txt");
    EXPECT_EQ(pngSize(readFile(home / "received.png")), std::make_pair(160, 50));
    std::this_thread::sleep_for(500ms);
    keepScreenshot(session, "desktop-answer");

    // A second launch hands over, ends at once, and the first opens its menu at the pointer.
    run("xdotool mousemove 1700 300");
    const pid_t second = session.spawn({ZORVANE_PROGRAM}, environment);
    EXPECT_EQ(exitStatus(second, 5s), 0);
    std::optional<WindowOnScreen> menu;
    ASSERT_TRUE(waitUntil([&] { return (menu = findWindow("Zorvane", 320)).has_value(); }, 5s)) << "no menu window";
    EXPECT_NEAR(menu->x, 1700, 8);
    EXPECT_NEAR(menu->y, 300, 8);
    keepScreenshot(session, "desktop-menu");

    // "Salir" in the menu ends the program; nothing stays in the temporary folder.
    const int quitX = menu->x + menu->width - 42;
    const int quitY = menu->y + menu->height - 28;
    run("xdotool mousemove " + std::to_string(quitX) + " " + std::to_string(quitY) + " click 1");
    EXPECT_EQ(exitStatus(program, 10s), 0) << "still running after Salir";
    EXPECT_TRUE(fs::is_empty(temporary));
}

} // namespace
} // namespace zorvane::testing
