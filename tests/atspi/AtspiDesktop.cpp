#include "tests/atspi/AtspiDesktop.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace zorvane::testing {

namespace {

WidgetRects readReport(const std::filesystem::path& path)
{
    WidgetRects rects;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        double x, y, w, h;
        if (fields >> name >> x >> y >> w >> h) rects[name] = Rect(x, y, w, h);
    }
    return rects;
}

} // namespace

std::optional<TestApplication> AtspiDesktop::waitForReport(pid_t pid, const std::filesystem::path& report)
{
    // The application rewrites its report after every move; it is final once it stops changing
    // (the window manager places the window shortly after it is mapped).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::optional<std::filesystem::file_time_type> lastWrite;
    auto stableSince = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        const auto written = std::filesystem::last_write_time(report, error);
        const auto now = std::chrono::steady_clock::now();
        if (!error) {
            if (written != lastWrite) {
                lastWrite = written;
                stableSince = now;
            } else if (now - stableSince > std::chrono::milliseconds(600)) {
                auto rects = readReport(report);
                if (rects.count("window") && rects.count("button")) return TestApplication {pid, std::move(rects)};
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::nullopt;
}

std::optional<TestApplication> AtspiDesktop::startGtk(const std::string& title)
{
    const auto report = session_.home() / ("gtk-" + std::to_string(++started_) + ".txt");
    const pid_t pid = session_.spawn({"/usr/bin/python3", ZORVANE_ATSPI_TEST_DIR "/gtk_window.py", report.string(), title});
    return waitForReport(pid, report);
}

std::optional<TestApplication> AtspiDesktop::startQt(const std::string& title, bool alwaysOn)
{
    const auto report = session_.home() / ("qt-" + std::to_string(++started_) + ".txt");
    std::vector<std::string> argv {ZORVANE_ATSPI_QT_WINDOW, report.string(), title};
    if (!alwaysOn) argv.insert(argv.begin(), {"env", "-u", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"});
    // The Qt window is the other application, not code under test: should the build's sanitizer
    // flags reach it, its findings in Qt's own threads are not ours to stop on.
    const pid_t pid = session_.spawn(argv, {{"TSAN_OPTIONS", "report_bugs=0"}, {"ASAN_OPTIONS", "detect_leaks=0"}});
    return waitForReport(pid, report);
}

pid_t AtspiDesktop::startChromium()
{
    const auto profile = session_.home() / ("chromium-" + std::to_string(++started_));
    return session_.spawn(
        {"chromium", "--no-sandbox", "--no-first-run", "--no-default-browser-check", "--disable-gpu", "--disable-extensions",
            "--disable-background-networking", "--disable-component-update", "--password-store=basic",
            // No infobar about --no-sandbox, no offer to translate the Spanish page over it.
            "--test-type", "--disable-features=Translate",
            "--force-renderer-accessibility", "--user-data-dir=" + profile.string(),
            "--window-position=1440,0", "--window-size=900,700",
            "--app=file://" ZORVANE_ATSPI_TEST_DIR "/page.html"},
        {{"ACCESSIBILITY_ENABLED", "1"}});
}

Point centre(const Rect& r)
{
    return Point {r.midX(), r.midY()};
}

} // namespace zorvane::testing
