#pragma once

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

    std::string display() const;
    std::filesystem::path home() const;

    // Starts a program with the session's environment plus extraEnvironment; its output goes to
    // a log file in the session's temporary directory. Throws when it cannot be started.
    pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnvironment = {});
    // SIGTERM to the process and anything it started in its process group, SIGKILL after 2 s, reaped.
    void stop(pid_t pid);

    // The whole root window as a PNG file.
    bool screenshot(const std::filesystem::path& png) const;
    // Whether a viewable window whose name contains nameSubstring appears within the time.
    bool waitForWindow(const std::string& nameSubstring, double timeoutSeconds = 10) const;

private:
    void startXvfb();
    void startSessionBus();
    void tearDown();

    DesktopSessionOptions options_;
    std::filesystem::path root_;
    std::filesystem::path home_;
    std::filesystem::path runtimeDir_;
    std::string display_;
    ScopedEnvironment environment_;
    std::optional<Processes> processes_; // made once the root folder exists
};

} // namespace zorvane::testing
