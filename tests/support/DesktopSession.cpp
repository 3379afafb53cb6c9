#include "tests/support/DesktopSession.h"

#include "tests/support/X11Client.h"

#include <X11/Xlib.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zorvane::testing {

DesktopSession::DesktopSession(DesktopSessionOptions options) : options_(options)
{
    try {
        char pattern[] = "/tmp/zorvane-desktop-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("DesktopSession: cannot create a temporary directory");
        root_ = pattern;
        home_ = root_ / "home";
        runtimeDir_ = root_ / "run";
        std::filesystem::create_directories(home_);
        std::filesystem::create_directories(runtimeDir_);
        chmod(runtimeDir_.c_str(), 0700);
        chmod(home_.c_str(), 0700);
        processes_.emplace(root_ / "logs");

        environment_.set("HOME", home_.string());
        environment_.set("XDG_RUNTIME_DIR", runtimeDir_.string());
        for (const auto& [name, folder] : {std::pair {"XDG_CONFIG_HOME", ".config"}, {"XDG_DATA_HOME", ".local/share"},
                 {"XDG_CACHE_HOME", ".cache"}, {"XDG_STATE_HOME", ".local/state"}})
            environment_.set(name, (home_ / folder).string());
        environment_.set("XDG_SESSION_TYPE", "x11");
        environment_.set("QT_QPA_PLATFORM", "xcb");
        // Nothing of the caller's desktop may leak in: no Wayland, no other X authority, no scaling.
        for (const char* name : {"XDG_CURRENT_DESKTOP", "WAYLAND_DISPLAY", "XAUTHORITY", "NO_AT_BRIDGE",
                 "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING",
                 "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_USE_PHYSICAL_DPI", "GDK_SCALE", "GDK_DPI_SCALE",
                 "DBUS_SESSION_BUS_PID"})
            environment_.set(name, std::nullopt);

        startXvfb();
        startSessionBus();
        if (options_.accessibilityBus) {
            environment_.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
            processes_->start({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"});
            // Asking the bus itself, so that the call does not start a second launcher by activation.
            const bool ready = waitUntil(10, [this] {
                std::string reply;
                processes_->run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                    "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"},
                    5, &reply);
                return reply.find("boolean true") != std::string::npos;
            });
            if (!ready) throw std::runtime_error("DesktopSession: the accessibility bus did not start");
        }
        if (options_.windowManager) startWindowManager();
        if (options_.tray) {
            processes_->start({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                "--height", "24"});
            if (!waitUntil(10, [] { return X11Client().selectionOwned("_NET_SYSTEM_TRAY_S0"); }))
                throw std::runtime_error("DesktopSession: the tray did not start");
        }
    } catch (...) {
        tearDown();
        throw;
    }
}

DesktopSession::~DesktopSession() { tearDown(); }

void DesktopSession::tearDown()
{
    if (processes_) processes_->stopAll();
    environment_.restore();
    if (!root_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

std::filesystem::path DesktopSession::home() const { return home_; }

pid_t DesktopSession::spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnvironment)
{
    return processes_->start(argv, extraEnvironment);
}

void DesktopSession::stop(pid_t pid) { processes_->stop(pid); }

void DesktopSession::startWindowManager()
{
    processes_->start({"openbox", "--sm-disable"});
    // Openbox drops the windows mapped before it is ready: it is, once it frames a new one.
    const bool managed = waitUntil(20, [] {
        X11Client x;
        const ColouredWindow probe(x.display(), "probe", 0, 0, 0, 10, 10);
        return waitUntil(0.5, [&] { return probe.framed(); });
    });
    if (!managed) throw std::runtime_error("DesktopSession: openbox did not start");
}

void DesktopSession::startXvfb()
{
    const std::string number = processes_->startAndReadLine({"Xvfb", "-displayfd", "{fd}", "-screen", "0",
        options_.twoMonitors ? "2880x900x24" : "1440x900x24", "-nolisten", "tcp", "-noreset"}, 20);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        throw std::runtime_error("DesktopSession: Xvfb did not report a display");
    display_ = ":" + number;
    environment_.set("DISPLAY", display_);
    const auto connects = [] {
        Display* d = XOpenDisplay(nullptr);
        if (d) XCloseDisplay(d);
        return d != nullptr;
    };
    if (!waitUntil(10, connects)) throw std::runtime_error("DesktopSession: cannot connect to " + display_);

    if (options_.twoMonitors) {
        // The '*' marks the primary monitor; the monitors live on because of -noreset.
        const bool ok = processes_->run({"xrandr", "--setmonitor", "*LEFT", "1440/380x900/240+0+0", "screen"}, 10) == 0
            && processes_->run({"xrandr", "--setmonitor", "RIGHT", "1440/380x900/240+1440+0", "none"}, 10) == 0;
        if (!ok) throw std::runtime_error("DesktopSession: cannot set up two monitors");
    }
}

void DesktopSession::startSessionBus()
{
    const std::string address = "unix:path=" + (runtimeDir_ / "bus").string();
    const std::string printed = processes_->startAndReadLine(
        {"dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=" + address, "--print-address={fd}"}, 10);
    if (printed.empty()) throw std::runtime_error("DesktopSession: the session bus did not start");
    environment_.set("DBUS_SESSION_BUS_ADDRESS", printed);
}

void DesktopSession::screenshot(const std::string& name) const
{
    const char* folder = std::getenv("ZORVANE_SCREENSHOT_DIR");
    if (folder && *folder)
        processes_->run({"import", "-display", display_, "-window", "root", std::string(folder) + "/" + name + ".png"},
            30);
}

bool DesktopSession::waitForWindow(const std::string& nameSubstring, double timeoutSeconds) const
{
    X11Client x;
    return waitUntil(timeoutSeconds, [&] {
        for (const auto& w : x.windows())
            if (w.name.find(nameSubstring) != std::string::npos) return true;
        return false;
    });
}

// The window writes its report (one "name x y width height" line per widget) once it has stood
// still for half a second, so the window manager has placed it by then.
std::optional<TestWindow> DesktopSession::waitForReport(pid_t pid, const std::filesystem::path& report)
{
    if (!waitUntil(20, [&] { return std::filesystem::exists(report); })) return std::nullopt;
    TestWindow window {pid, {}, report.string() + ".keys"};
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

std::optional<TestWindow> DesktopSession::startGtkWindow(const std::string& title, const std::map<std::string, std::string>& environment)
{
    const auto report = home_ / ("gtk-" + std::to_string(++started_) + ".txt");
    return waitForReport(spawn({"/usr/bin/python3", ZORVANE_SUPPORT_DIR "/gtk_window.py", report.string(), title}, environment), report);
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
                     "--user-data-dir=" + profile.string(), "--window-position=1440,0", "--kiosk",
                     "--app=file://" ZORVANE_SUPPORT_DIR "/page.html"},
        {{"ACCESSIBILITY_ENABLED", "1"}});
}

} // namespace zorvane::testing
