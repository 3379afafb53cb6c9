// The other applications of a desktop test: the GTK and Qt windows of tests/support, and Chromium.
#include "tests/support/DesktopSession.h"

#include <fstream>
#include <sstream>

namespace zorvane::testing {

// The window writes its report (one "name x y width height" line per widget) once it has stood
// still for half a second, so the window manager has placed it by then.
std::optional<TestWindow> DesktopSession::waitForReport(pid_t pid, const std::filesystem::path& report)
{
    if (!waitUntil(20, [&] { return std::filesystem::exists(report); })) return std::nullopt;
    TestWindow window {pid, {}};
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name;
        double x, y, w, h;
        if (fields >> name >> x >> y >> w >> h) window.widgets[name] = Rect(x, y, w, h);
    }
    if (!window.widgets.count("button")) return std::nullopt;
    return window;
}

std::optional<TestWindow> DesktopSession::startGtkWindow(const std::string& title)
{
    const auto report = home_ / ("gtk-" + std::to_string(++started_) + ".txt");
    return waitForReport(spawn({"/usr/bin/python3", ZORVANE_SUPPORT_DIR "/gtk_window.py", report.string(), title}), report);
}

std::optional<TestWindow> DesktopSession::startQtWindow(const std::string& title, bool accessibleQt)
{
    const auto report = home_ / ("qt-" + std::to_string(++started_) + ".txt");
    std::vector<std::string> argv {ZORVANE_QT_TEST_WINDOW, report.string(), title};
    if (!accessibleQt) argv.insert(argv.begin(), {"env", "-u", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"});
    // The other application, not code under test: findings in Qt's own threads are not ours.
    return waitForReport(spawn(argv, {{"TSAN_OPTIONS", "report_bugs=0"}, {"ASAN_OPTIONS", "detect_leaks=0"}}), report);
}

pid_t DesktopSession::startChromium()
{
    const auto profile = home_ / ("chromium-" + std::to_string(++started_));
    return spawn({"chromium", "--no-sandbox", "--no-first-run", "--no-default-browser-check", "--disable-gpu",
                     "--disable-extensions", "--disable-background-networking", "--disable-component-update",
                     "--password-store=basic",
                     // No infobar about --no-sandbox, no offer to translate the Spanish page over it.
                     "--test-type", "--disable-features=Translate", "--force-renderer-accessibility",
                     "--user-data-dir=" + profile.string(), "--window-position=1440,0", "--window-size=900,700",
                     "--app=file://" ZORVANE_SUPPORT_DIR "/page.html"},
        {{"ACCESSIBILITY_ENABLED", "1"}});
}

} // namespace zorvane::testing
