#pragma once

#include "app/core/Geometry.h"
#include "tests/support/Processes.h"

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::testing {

struct DesktopSessionOptions {
    bool twoMonitors = true;      // 2880x900 root: LEFT 1440x900+0+0 (primary) and RIGHT 1440x900+1440+0
    bool windowManager = true;    // openbox --sm-disable
    bool accessibilityBus = true; // at-spi-bus-launcher --launch-immediately
    bool tray = false;            // trayer
};

// Another application's window to point at, and where its toolkit put its widgets (root pixels,
// or its own logical pixels when it is scaled): "window", "button" ("Enviar mensaje"), "picture",
// "link" ("Abrir la ayuda"), "text" (three lines).
struct TestWindow {
    pid_t pid = -1;
    std::map<std::string, Rect> widgets;
    std::filesystem::path keys; // the GTK window writes the name of each key it receives here, a line each
};

// A private X11 desktop for one test program: Xvfb on a display it picks itself, a temporary HOME
// and XDG_RUNTIME_DIR, a session bus and, as asked, the accessibility bus, openbox and a tray.
// While it lives, this process's environment points at it (DISPLAY, DBUS_SESSION_BUS_ADDRESS,
// XDG_RUNTIME_DIR, HOME, XDG_*); the destructor stops every process it started, by process id,
// removes the temporary directories and restores the environment. Throws std::runtime_error when
// the desktop cannot be started. Create it on a thread that outlives it (its children die with
// that thread).
class DesktopSession {
public:
    explicit DesktopSession(DesktopSessionOptions options = {});
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    std::filesystem::path home() const;
    Processes& processes() { return *processes_; }

    // Starts a program with the session's environment plus extraEnvironment; its output goes to
    // a log file in the session's temporary directory. Throws when it cannot be started.
    pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnvironment = {});
    // SIGTERM to the process and anything it started in its process group, SIGKILL after 2 s, reaped.
    void stop(pid_t pid);
    // openbox, once it manages windows (for a session made without it).
    void startWindowManager();

    // The whole root window as a PNG in ZORVANE_SCREENSHOT_DIR, when that names a folder, for a
    // person to look at.
    void screenshot(const std::string& name) const;
    // Whether a viewable window whose name contains nameSubstring appears within the time.
    bool waitForWindow(const std::string& nameSubstring, double timeoutSeconds = 10) const;

    // The test applications (tests/support), each at its own place: GTK 3 at (60, 80), Qt 6 at
    // (700, 80); none when the window did not come up. accessibleQt: Qt exposes its tree whatever
    // the session's switch says.
    std::optional<TestWindow> startGtkWindow(const std::string& title, const std::map<std::string, std::string>& environment = {});
    std::optional<TestWindow> startQtWindow(const std::string& title, bool accessibleQt = true);
    // Chromium showing tests/support/page.html full screen on the right monitor: a picture at
    // (1480, 40) 240×160, a paragraph at (1480, 240) 420 wide, a button at (1480, 420) 160×40.
    pid_t startChromium();

private:
    void startXvfb();
    void startSessionBus();
    void tearDown();
    std::optional<TestWindow> waitForReport(pid_t pid, const std::filesystem::path& report);

    DesktopSessionOptions options_;
    std::filesystem::path root_;
    std::filesystem::path home_;
    std::filesystem::path runtimeDir_;
    std::string display_;
    ScopedEnvironment environment_;
    std::optional<Processes> processes_; // made once the root folder exists
    int started_ = 0;
};

} // namespace zorvane::testing
