#include "tests/support/DesktopSession.h"

#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAccessibilityBusLauncher = "/usr/libexec/at-spi-bus-launcher";

bool waitUntil(double timeoutSeconds, const std::function<bool()>& condition)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (true) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Reads one line from fd, waiting at most timeoutSeconds for each character; empty when none came.
std::string readLine(int fd, double timeoutSeconds)
{
    std::string line;
    pollfd pfd {fd, POLLIN, 0};
    char c;
    while (poll(&pfd, 1, static_cast<int>(timeoutSeconds * 1000)) > 0 && read(fd, &c, 1) == 1) {
        if (c == '\n') return line;
        line.push_back(c);
    }
    return {};
}

// Forks and execs argv with envp; the child gets its own process group, its output in logPath,
// dies with the parent thread, and keeps keepOpenFd open.
pid_t forkExec(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
    const std::string& logPath, int keepOpenFd)
{
    if (argv.empty()) throw std::runtime_error("DesktopSession: empty command");
    // Everything the child touches is prepared before fork.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        if (keepOpenFd >= 0) {
            const int flags = fcntl(keepOpenFd, F_GETFD);
            fcntl(keepOpenFd, F_SETFD, flags & ~FD_CLOEXEC);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    const int forkError = errno;
    if (log >= 0) close(log);
    if (devNull >= 0) close(devNull);
    if (pid < 0) throw std::runtime_error("DesktopSession: cannot start " + argv[0] + ": " + std::strerror(forkError));
    setpgid(pid, pid); // also here, so a signal sent right away reaches the group
    return pid;
}

std::vector<std::string> currentEnvironment(const std::map<std::string, std::string>& extra)
{
    std::map<std::string, std::string> merged;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : extra) merged[name] = value;
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
    return result;
}

bool hasExited(pid_t pid)
{
    int status;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

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
        std::filesystem::create_directories(root_ / "logs");
        chmod(runtimeDir_.c_str(), 0700);
        chmod(home_.c_str(), 0700);

        setEnvironment("HOME", home_.string());
        setEnvironment("XDG_RUNTIME_DIR", runtimeDir_.string());
        setEnvironment("XDG_CONFIG_HOME", (home_ / ".config").string());
        setEnvironment("XDG_DATA_HOME", (home_ / ".local/share").string());
        setEnvironment("XDG_CACHE_HOME", (home_ / ".cache").string());
        setEnvironment("XDG_STATE_HOME", (home_ / ".local/state").string());
        setEnvironment("XDG_SESSION_TYPE", "x11");
        setEnvironment("QT_QPA_PLATFORM", "xcb");
        // Nothing of the caller's desktop may leak in: no Wayland, no other X authority, no scaling.
        for (const char* name : {"XDG_CURRENT_DESKTOP", "WAYLAND_DISPLAY", "XAUTHORITY", "NO_AT_BRIDGE",
                 "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING",
                 "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_USE_PHYSICAL_DPI", "GDK_SCALE", "GDK_DPI_SCALE",
                 "DBUS_SESSION_BUS_PID"})
            setEnvironment(name, std::nullopt);

        startXvfb();
        startSessionBus();
        if (options_.accessibilityBus) {
            setEnvironment("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
            start({kAccessibilityBusLauncher, "--launch-immediately"}, {});
            // Asking the bus itself, so that the call does not start a second launcher by activation.
            const bool ready = waitUntil(10, [] {
                return std::system("dbus-send --session --print-reply --dest=org.freedesktop.DBus "
                                   "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus "
                                   "2>/dev/null | grep -q 'boolean true'")
                    == 0;
            });
            if (!ready) throw std::runtime_error("DesktopSession: the accessibility bus did not start");
        }
        if (options_.windowManager) {
            start({"openbox", "--sm-disable"}, {});
            if (!windowManagerManagesWindows(display_, 20))
                throw std::runtime_error("DesktopSession: openbox did not start");
        }
        if (options_.tray) {
            start({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                      "--height", "24"},
                {});
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
    const std::vector<pid_t> started = children_; // stop() takes each off the list
    for (auto it = started.rbegin(); it != started.rend(); ++it) stop(*it);
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
    if (!root_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

std::string DesktopSession::display() const { return display_; }

std::filesystem::path DesktopSession::home() const { return home_; }

void DesktopSession::setEnvironment(const std::string& name, const std::optional<std::string>& value)
{
    if (!savedEnvironment_.count(name)) {
        const char* old = std::getenv(name.c_str());
        savedEnvironment_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
}

pid_t DesktopSession::start(
    const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnvironment, int keepOpenFd)
{
    const std::string program = argv.empty() ? "" : std::filesystem::path(argv.front()).filename().string();
    const auto log = root_ / "logs" / (std::to_string(++logCounter_) + "-" + program + ".log");
    const pid_t pid = forkExec(argv, currentEnvironment(extraEnvironment), log.string(), keepOpenFd);
    children_.push_back(pid);
    return pid;
}

pid_t DesktopSession::spawn(
    const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnvironment)
{
    return start(argv, extraEnvironment);
}

void DesktopSession::stop(pid_t pid)
{
    // Only our own children: a pid reaped earlier may belong to someone else by now.
    const auto it = std::find(children_.begin(), children_.end(), pid);
    if (pid <= 0 || it == children_.end()) return;
    children_.erase(it);
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    if (!waitUntil(2, [pid] { return hasExited(pid); })) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    kill(-pid, SIGKILL); // whatever it left behind in its group
}

bool DesktopSession::runToCompletion(const std::vector<std::string>& argv, double timeoutSeconds) const
{
    const auto log = root_ / "logs" / ("run-" + std::filesystem::path(argv.front()).filename().string() + ".log");
    const pid_t pid = forkExec(argv, currentEnvironment({}), log.string(), -1);
    int status = 0;
    const bool finished = waitUntil(timeoutSeconds, [&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!finished) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts a program that writes one line to the file descriptor given as its argument "{fd}".
std::string DesktopSession::startAndReadLine(std::vector<std::string> argv, double timeoutSeconds)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("DesktopSession: pipe failed");
    for (auto& a : argv)
        if (const auto at = a.find("{fd}"); at != std::string::npos) a.replace(at, 4, std::to_string(fds[1]));
    try {
        start(argv, {}, fds[1]);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    const std::string line = readLine(fds[0], timeoutSeconds);
    close(fds[0]);
    return line;
}

void DesktopSession::startXvfb()
{
    const std::string number = startAndReadLine({"Xvfb", "-displayfd", "{fd}", "-screen", "0",
        options_.twoMonitors ? "2880x900x24" : "1440x900x24", "-nolisten", "tcp", "-noreset"}, 20);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        throw std::runtime_error("DesktopSession: Xvfb did not report a display");
    display_ = ":" + number;
    setEnvironment("DISPLAY", display_);
    if (!waitUntil(10, [this] { return openDisplay(display_) != nullptr; }))
        throw std::runtime_error("DesktopSession: cannot connect to " + display_);

    if (options_.twoMonitors) {
        // The '*' marks the primary monitor; the monitors live on because of -noreset.
        const bool ok = runToCompletion({"xrandr", "--setmonitor", "*LEFT", "1440/380x900/240+0+0", "screen"}, 10)
            && runToCompletion({"xrandr", "--setmonitor", "RIGHT", "1440/380x900/240+1440+0", "none"}, 10);
        if (!ok) throw std::runtime_error("DesktopSession: cannot set up two monitors");
    }
}

void DesktopSession::startSessionBus()
{
    const std::string address = "unix:path=" + (runtimeDir_ / "bus").string();
    const std::string printed = startAndReadLine(
        {"dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=" + address, "--print-address={fd}"}, 10);
    if (printed.empty()) throw std::runtime_error("DesktopSession: the session bus did not start");
    setEnvironment("DBUS_SESSION_BUS_ADDRESS", printed);
}

bool DesktopSession::screenshot(const std::filesystem::path& png) const
{
    return runToCompletion({"import", "-display", display_, "-window", "root", png.string()}, 30)
        && std::filesystem::exists(png);
}

bool DesktopSession::waitForWindow(const std::string& nameSubstring, double timeoutSeconds) const
{
    std::string pattern; // xdotool takes a regular expression
    for (const char c : nameSubstring) {
        if (std::strchr("\\^$.|?*+()[]{}", c)) pattern.push_back('\\');
        pattern.push_back(c);
    }
    return waitUntil(timeoutSeconds,
        [&] { return runToCompletion({"xdotool", "search", "--onlyvisible", "--name", pattern}, 5); });
}

} // namespace zorvane::testing
