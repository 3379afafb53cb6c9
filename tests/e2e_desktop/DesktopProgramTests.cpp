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

// A mapped window named exactly `name` whose width is `width`, from the window tree.
std::optional<WindowOnScreen> findWindow(const std::string& name, int width)
{
    const std::string tree = run("xwininfo -root -tree 2>/dev/null");
    const std::regex line("\"" + name + "\": \\([^)]*\\)\\s+(\\d+)x(\\d+)[+-]\\d+[+-]\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), line); it != std::sregex_iterator(); ++it) {
        const WindowOnScreen w {std::stoi((*it)[3]), std::stoi((*it)[4]), std::stoi((*it)[1]), std::stoi((*it)[2])};
        if (w.width != width) continue;
        std::smatch id;
        const std::string before = tree.substr(0, static_cast<std::size_t>(it->position()));
        const auto start = before.find_last_of('\n');
        const std::string idText = before.substr(start == std::string::npos ? 0 : start + 1);
        const std::string state = run("xwininfo -id " + idText.substr(idText.find("0x"), idText.find(' ', idText.find("0x")) - idText.find("0x"))
                                      + " 2>/dev/null | grep 'Map State'");
        if (state.find("IsViewable") != std::string::npos) return w;
    }
    return std::nullopt;
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
    if (const char* folder = std::getenv("ZORVANE_UI_SCREENSHOTS")) session.screenshot(fs::path(folder) / (std::string(name) + ".png"));
}

// A user's session from the program's start to "Salir": the icon in the tray, a second launch
// that opens the first one's menu at the pointer, `--select` handed to it, and quitting with
// nothing left behind in the temporary folder.
TEST(DesktopProgram, StartsIntoTheTrayAnswersLaterLaunchesAndQuitsClean)
{
    DesktopSession session({.twoMonitors = true, .windowManager = true, .accessibilityBus = true, .tray = true});
    const fs::path temporary = session.home() / "tmp";
    fs::create_directories(temporary);
    const std::map<std::string, std::string> environment {{"TMPDIR", temporary.string()}};

    const pid_t program = session.spawn({ZORVANE_PROGRAM}, environment);
    ASSERT_TRUE(waitUntil(iconInTray, 10s)) << "no icon in the tray";
    keepScreenshot(session, "desktop-tray");

    // A second launch hands over, ends at once, and the first opens its menu at the pointer.
    run("xdotool mousemove 700 300");
    const pid_t second = session.spawn({ZORVANE_PROGRAM}, environment);
    EXPECT_EQ(exitStatus(second, 5s), 0);
    std::optional<WindowOnScreen> menu;
    ASSERT_TRUE(waitUntil([&] { return (menu = findWindow("Zorvane", 320)).has_value(); }, 5s)) << "no menu window";
    EXPECT_NEAR(menu->x, 700, 8);
    EXPECT_NEAR(menu->y, 300, 8);
    keepScreenshot(session, "desktop-menu");

    // `--select` is handed over too: the menu makes way for the selection.
    const pid_t select = session.spawn({ZORVANE_PROGRAM, "--select"}, environment);
    EXPECT_EQ(exitStatus(select, 5s), 0);
    EXPECT_TRUE(waitUntil([] { return !findWindow("Zorvane", 320); }, 5s));

    // "Salir" in the menu ends the program; nothing stays in the temporary folder.
    run("xdotool mousemove 500 200");
    const pid_t again = session.spawn({ZORVANE_PROGRAM}, environment);
    EXPECT_EQ(exitStatus(again, 5s), 0);
    ASSERT_TRUE(waitUntil([&] { return (menu = findWindow("Zorvane", 320)).has_value(); }, 5s));
    const int quitX = menu->x + menu->width - 42;
    const int quitY = menu->y + menu->height - 28;
    run("xdotool mousemove " + std::to_string(quitX) + " " + std::to_string(quitY) + " click 1");
    EXPECT_EQ(exitStatus(program, 10s), 0) << "still running after Salir";
    EXPECT_TRUE(fs::is_empty(temporary));
}

} // namespace
} // namespace zorvane::testing
