#include "app/platform/linux/desktop/X11Workspace.h"

#include "app/platform/linux/desktop/DesktopEntryFile.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include <xcb/xcb.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace zorvane {

namespace {

// The browsers the bridge knows, as they appear on Linux.
struct Browser {
    std::string_view identifier;
    std::vector<std::string_view> windowClasses; // lower case
    std::vector<std::string_view> executableDirectories;
    std::vector<std::string_view> desktopEntries;
    std::vector<std::string_view> commands;
};

const std::vector<Browser>& browsers()
{
    static const std::vector<Browser> list = {
        {"org.chromium.Chromium", {"chromium", "chromium-browser", "org.chromium.chromium"}, {"/usr/lib/chromium/", "/usr/lib/chromium-browser/"},
            {"chromium.desktop", "chromium-browser.desktop", "org.chromium.Chromium.desktop"}, {"chromium", "chromium-browser"}},
        {"com.google.Chrome.canary", {"google-chrome-unstable"}, {"/opt/google/chrome-unstable/"}, {"google-chrome-unstable.desktop"},
            {"google-chrome-unstable"}},
        {"com.google.Chrome", {"google-chrome", "com.google.chrome"}, {"/opt/google/chrome/"},
            {"google-chrome.desktop", "com.google.Chrome.desktop"}, {"google-chrome", "google-chrome-stable"}},
        {"com.microsoft.edgemac", {"microsoft-edge", "com.microsoft.edge"}, {"/opt/microsoft/msedge/"},
            {"microsoft-edge.desktop", "com.microsoft.Edge.desktop"}, {"microsoft-edge", "microsoft-edge-stable"}},
        {"com.brave.Browser", {"brave-browser", "com.brave.browser"}, {"/opt/brave.com/brave/"},
            {"brave-browser.desktop", "com.brave.Browser.desktop"}, {"brave-browser", "brave"}},
    };
    return list;
}

const Browser* browserWithIdentifier(const std::string& identifier)
{
    for (const Browser& browser : browsers())
        if (browser.identifier == identifier) return &browser;
    return nullptr;
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::vector<std::filesystem::path> applicationDirectories()
{
    std::vector<std::filesystem::path> dirs {linux_platform::DesktopEntryFile::dataHome() / "applications"};
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string_view rest = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        if (!dir.empty()) dirs.emplace_back(std::filesystem::path(dir) / "applications");
        rest = colon == std::string_view::npos ? std::string_view {} : rest.substr(colon + 1);
    }
    return dirs;
}

std::optional<std::filesystem::path> findDesktopEntry(const std::string& name)
{
    std::error_code ec;
    for (const auto& dir : applicationDirectories()) {
        const auto candidate = dir / name;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

// The Exec line of the entry's main group.
std::optional<std::string> execLine(const std::filesystem::path& entry)
{
    const auto keys = linux_platform::DesktopEntryFile::readMainGroup(entry);
    if (!keys) return std::nullopt;
    const auto exec = keys->find("Exec");
    if (exec == keys->end()) return std::nullopt;
    return exec->second;
}

std::string findExecutable(const std::string& name)
{
    return QStandardPaths::findExecutable(QString::fromStdString(name)).toStdString();
}

// Starts the program without waiting for it and without keeping it as our child; its output
// goes nowhere (we write no log, and neither do the programs we start).
bool spawnDetached(const std::vector<std::string>& argv)
{
    if (argv.empty()) return false;
    const std::string program = argv.front().find('/') == std::string::npos ? findExecutable(argv.front()) : argv.front();
    if (program.empty()) return false;
    QStringList arguments;
    for (std::size_t i = 1; i < argv.size(); ++i) arguments << QString::fromStdString(argv[i]);
    QProcess process;
    process.setProgram(QString::fromStdString(program));
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

struct Free {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, Free>;

xcb_atom_t internAtom(xcb_connection_t* c, std::string_view name)
{
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The property's bytes, or none when the window or the property is missing.
std::optional<std::string> property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 1024), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(data, std::size_t(xcb_get_property_value_length(reply.get()))); // bytes
}

std::optional<std::uint32_t> cardinal(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    const auto bytes = property(c, window, name, type);
    if (!bytes || bytes->size() < 4) return std::nullopt;
    std::uint32_t value = 0;
    std::copy_n(bytes->data(), 4, reinterpret_cast<char*>(&value));
    return value;
}

std::string executableOf(std::uint32_t pid)
{
    char path[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    return length > 0 ? std::string(path, std::size_t(length)) : std::string();
}

} // namespace

X11Workspace::X11Workspace() = default;

X11Workspace::~X11Workspace()
{
    if (connection_) xcb_disconnect(connection_);
}

xcb_connection_t* X11Workspace::connection()
{
    if (connection_ && xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
    }
    if (!connection_) connection_ = xcb_connect(nullptr, nullptr);
    return xcb_connection_has_error(connection_) ? nullptr : connection_;
}

std::optional<X11Workspace::ActiveWindow> X11Workspace::activeWindow()
{
    xcb_connection_t* c = connection();
    if (!c) return std::nullopt;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const auto active = cardinal(c, screen->root, internAtom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (!active || *active == 0) return std::nullopt;

    ActiveWindow window;
    // WM_CLASS holds the instance name and then the class name, each ending in a NUL.
    if (const auto classes = property(c, *active, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING)) {
        const auto end = classes->find('\0');
        if (end != std::string::npos) window.windowClass = classes->substr(end + 1, classes->find('\0', end + 1) - end - 1);
    }
    window.pid = cardinal(c, *active, internAtom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL);
    return window;
}

std::optional<std::string> X11Workspace::frontmostApplicationIdentifier()
{
    const auto window = activeWindow();
    if (!window) return std::nullopt;
    if (window->pid && *window->pid == std::uint32_t(::getpid())) return std::string("com.quenvar.Zorvane");
    return applicationIdentifier(window->windowClass, window->pid ? executableOf(*window->pid) : std::string());
}

std::optional<ProcessID> X11Workspace::frontmostApplicationProcessID()
{
    const auto window = activeWindow();
    if (!window || !window->pid || *window->pid == 0) return std::nullopt;
    return ProcessID(*window->pid);
}

std::optional<std::string> X11Workspace::applicationIdentifierOfProcess(ProcessID process)
{
    if (process == ::getpid()) return std::string("com.quenvar.Zorvane");
    const std::string executable = process > 0 ? executableOf(std::uint32_t(process)) : std::string();
    if (executable.empty()) return std::nullopt;
    return applicationIdentifier(std::string(), executable);
}

std::optional<std::string> X11Workspace::applicationIdentifier(const std::string& windowClass, const std::string& executable)
{
    const std::string lowerClass = lowercase(windowClass);
    for (const Browser& browser : browsers())
        for (const auto& known : browser.windowClasses)
            if (lowerClass == known) return std::string(browser.identifier);
    for (const Browser& browser : browsers())
        for (const auto& dir : browser.executableDirectories)
            if (executable.rfind(dir, 0) == 0) return std::string(browser.identifier);

    std::string name = windowClass.empty() ? std::filesystem::path(executable).filename().string() : windowClass;
    if (name.empty()) return std::nullopt;
    // Applications named after a reverse-DNS identifier already (as GNOME's are) keep it.
    if (std::count(name.begin(), name.end(), '.') >= 2 && name.find_first_of(" /") == std::string::npos) return name;
    std::string label;
    for (const unsigned char ch : lowercase(name))
        label += std::isalnum(ch) || ch == '-' ? char(ch) : '-';
    return "local.x11." + label;
}

std::optional<std::vector<std::string>> X11Workspace::settingsCommand(const std::string& url, const std::string& currentDesktop)
{
    static constexpr std::string_view prefix = "x-apple.systempreferences:com.apple.preference.security?";
    if (url.rfind(prefix, 0) != 0) return std::nullopt;
    const std::string pane = url.substr(prefix.size());
    const std::string desktops = ":" + lowercase(currentDesktop) + ":";
    // Only pages that exist: neither desktop has one for screen capture (X11 asks no permission)
    // or speech recognition (ours runs on this computer).
    if (desktops.find(":gnome:") != std::string::npos) {
        if (pane == "Privacy_Accessibility") return std::vector<std::string> {"gnome-control-center", "universal-access"};
        if (pane == "Privacy_Microphone") return std::vector<std::string> {"gnome-control-center", "sound"};
    }
    if (desktops.find(":kde:") != std::string::npos) {
        if (pane == "Privacy_Accessibility") return std::vector<std::string> {"systemsettings", "kcm_access"};
        if (pane == "Privacy_Microphone") return std::vector<std::string> {"systemsettings", "kcm_pulseaudio"};
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> X11Workspace::execArguments(const std::string& exec, const std::string& url)
{
    // The value's own escapes first, then the command line's quoting.
    std::string value;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '\\' || i + 1 == exec.size()) {
            value += exec[i];
            continue;
        }
        switch (exec[++i]) {
        case 's': value += ' '; break;
        case 'n': value += '\n'; break;
        case 't': value += '\t'; break;
        case 'r': value += '\r'; break;
        case '\\': value += '\\'; break;
        default: value += '\\', value += exec[i]; break;
        }
    }

    std::vector<std::string> arguments;
    bool urlPlaced = false;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    const auto finish = [&] {
        if (inArgument) arguments.push_back(current);
        current.clear();
        inArgument = false;
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char ch = value[i];
        if (quoted) {
            if (ch == '"') quoted = false;
            else if (ch == '\\' && i + 1 < value.size() && std::string_view("\"`$\\").find(value[i + 1]) != std::string_view::npos)
                current += value[++i];
            else current += ch;
            continue;
        }
        if (ch == ' ' || ch == '\t' || ch == '\n') {
            finish();
        } else if (ch == '"') {
            quoted = true;
            inArgument = true;
        } else if (ch == '%' && i + 1 < value.size()) {
            // Other field codes (icon, name, file location, deprecated ones) are left out.
            const char code = value[++i];
            if (code == '%') {
                current += '%';
                inArgument = true;
            } else if (std::string_view("uUfF").find(code) != std::string_view::npos && !urlPlaced) {
                current += url;
                urlPlaced = true;
                inArgument = true;
            }
        } else {
            current += ch;
            inArgument = true;
        }
    }
    if (quoted) return std::nullopt;
    finish();
    if (arguments.empty()) return std::nullopt;
    if (!urlPlaced) arguments.push_back(url);
    return arguments;
}

bool X11Workspace::openURL(const std::string& url)
{
    if (url.rfind("x-apple.systempreferences:", 0) == 0) {
        const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
        auto command = settingsCommand(url, desktop ? desktop : "");
        if (!command) return false;
        // Plasma 5 names its settings program with the version.
        if (command->front() == "systemsettings" && findExecutable("systemsettings").empty()) command->front() = "systemsettings5";
        return spawnDetached(*command);
    }
    return spawnDetached({"xdg-open", url});
}

bool X11Workspace::openURLWithApplication(const std::string& url, const std::string& applicationIdentifier)
{
    const Browser* browser = browserWithIdentifier(applicationIdentifier);
    std::vector<std::string> entries;
    if (browser) entries.assign(browser->desktopEntries.begin(), browser->desktopEntries.end());
    else entries.push_back(applicationIdentifier + ".desktop");
    for (const auto& name : entries) {
        const auto entry = findDesktopEntry(name);
        if (!entry) continue;
        const auto exec = execLine(*entry);
        if (!exec) continue;
        if (const auto arguments = execArguments(*exec, url)) return spawnDetached(*arguments);
    }
    if (browser)
        for (const auto& command : browser->commands)
            if (!findExecutable(std::string(command)).empty()) return spawnDetached({std::string(command), url});
    return false;
}

bool X11Workspace::revealFile(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec || !std::filesystem::exists(absolute, ec)) return false;
    const std::string folderURL = QUrl::fromLocalFile(QString::fromStdString(absolute.parent_path().string())).toString(QUrl::FullyEncoded).toStdString();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return spawnDetached({"xdg-open", folderURL});
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList {QUrl::fromLocalFile(QString::fromStdString(absolute.string())).toString(QUrl::FullyEncoded)} << QString();
    // A file manager that is missing or does not answer in time: show the folder instead.
    constexpr int timeoutMilliseconds = 3000;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMilliseconds));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folderURL](QDBusPendingCallWatcher* finished) {
        if (finished->isError()) spawnDetached({"xdg-open", folderURL});
        finished->deleteLater();
    });
    return true;
}

bool X11Workspace::isApplicationInstalled(const std::string& applicationIdentifier)
{
    const Browser* browser = browserWithIdentifier(applicationIdentifier);
    if (!browser) return findDesktopEntry(applicationIdentifier + ".desktop").has_value();
    for (const auto& name : browser->desktopEntries)
        if (findDesktopEntry(std::string(name))) return true;
    for (const auto& command : browser->commands)
        if (!findExecutable(std::string(command)).empty()) return true;
    return false;
}

} // namespace zorvane
