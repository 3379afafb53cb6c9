#include "tests/support/DesktopSession.h"

#include <X11/Xlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

namespace zorvane::testing {
namespace {

constexpr const char* kAccessibilityBusLauncher = "/usr/libexec/at-spi-bus-launcher";

using DisplayHandle = std::unique_ptr<Display, int (*)(Display*)>;

DisplayHandle openDisplay(const std::string& name) { return DisplayHandle(XOpenDisplay(name.c_str()), XCloseDisplay); }

bool selectionHasOwner(const std::string& display, const char* selection)
{
    auto d = openDisplay(display);
    return d && XGetSelectionOwner(d.get(), XInternAtom(d.get(), selection, False)) != 0;
}

// Openbox drops map requests that come before it is ready: map a throw-away window until the
// window manager has framed it.
bool windowManagerManagesWindows(const std::string& display, double timeoutSeconds)
{
    auto d = openDisplay(display);
    if (!d) return false;
    const Window root = DefaultRootWindow(d.get());
    const Window probe = XCreateSimpleWindow(d.get(), root, 0, 0, 10, 10, 0, 0, 0);
    const bool managed = waitUntil(timeoutSeconds, [&] {
        XMapWindow(d.get(), probe);
        XSync(d.get(), False);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Window rootReturn, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(d.get(), probe, &rootReturn, &parent, &children, &count) && children) XFree(children);
        XWindowAttributes attributes;
        return parent != root && XGetWindowAttributes(d.get(), probe, &attributes)
            && attributes.map_state == IsViewable;
    });
    XDestroyWindow(d.get(), probe);
    XSync(d.get(), False);
    return managed;
}

} // namespace

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
        environment_.set("XDG_CONFIG_HOME", (home_ / ".config").string());
        environment_.set("XDG_DATA_HOME", (home_ / ".local/share").string());
        environment_.set("XDG_CACHE_HOME", (home_ / ".cache").string());
        environment_.set("XDG_STATE_HOME", (home_ / ".local/state").string());
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
            processes_->start({kAccessibilityBusLauncher, "--launch-immediately"});
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
            if (!waitUntil(10, [this] { return selectionHasOwner(display_, "_NET_SYSTEM_TRAY_S0"); }))
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

std::string DesktopSession::display() const { return display_; }

std::filesystem::path DesktopSession::home() const { return home_; }

pid_t DesktopSession::spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnvironment)
{
    return processes_->start(argv, extraEnvironment);
}

void DesktopSession::stop(pid_t pid) { processes_->stop(pid); }

void DesktopSession::startWindowManager()
{
    processes_->start({"openbox", "--sm-disable"});
    if (!windowManagerManagesWindows(display_, 20)) throw std::runtime_error("DesktopSession: openbox did not start");
}

void DesktopSession::startXvfb()
{
    const std::string number = processes_->startAndReadLine({"Xvfb", "-displayfd", "{fd}", "-screen", "0",
        options_.twoMonitors ? "2880x900x24" : "1440x900x24", "-nolisten", "tcp", "-noreset"}, 20);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        throw std::runtime_error("DesktopSession: Xvfb did not report a display");
    display_ = ":" + number;
    environment_.set("DISPLAY", display_);
    if (!waitUntil(10, [this] { return openDisplay(display_) != nullptr; }))
        throw std::runtime_error("DesktopSession: cannot connect to " + display_);

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

std::filesystem::path DesktopSession::screenshot(const std::string& name) const
{
    const char* kept = std::getenv("ZORVANE_SCREENSHOT_DIR");
    const auto png = (kept && *kept ? std::filesystem::path(kept) : home_) / (name + ".png");
    const bool taken = processes_->run({"import", "-display", display_, "-window", "root", png.string()}, 30) == 0;
    return taken && std::filesystem::exists(png) ? png : std::filesystem::path();
}

bool DesktopSession::waitForWindow(const std::string& nameSubstring, double timeoutSeconds) const
{
    std::string pattern; // xdotool takes a regular expression
    for (const char c : nameSubstring) {
        if (std::strchr("\\^$.|?*+()[]{}", c)) pattern.push_back('\\');
        pattern.push_back(c);
    }
    return waitUntil(timeoutSeconds,
        [&] { return processes_->run({"xdotool", "search", "--onlyvisible", "--name", pattern}, 5) == 0; });
}

} // namespace zorvane::testing
