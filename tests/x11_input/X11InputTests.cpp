// Global input and the workspace's openers on a private two-monitor desktop with a window
// manager; the pointer and keys come through XTest from another client. (The overlay and the
// shake are walked through in the whole program, tests/e2e_desktop.)
#include "app/core/SystemClock.h"
#include "app/platform/linux/desktop/X11Workspace.h"
#include "app/platform/linux/x11/X11EventMonitors.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/ui/QtMainQueue.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/X11Client.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QKeyEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace zorvane::testing {
namespace {

// Runs Qt's events until the condition holds or the time is up.
bool pumpUntil(double seconds, const std::function<bool()>& condition)
{
    return waitUntil(seconds, [&] {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return condition();
    });
}

void settle(double seconds) { pumpUntil(seconds, [] { return false; }); }

class X11InputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session = new DesktopSession({.accessibilityBus = false});
        static int argc = 1;
        static char name[] = "x11_input_tests";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        queue = std::make_shared<ui::QtMainQueue>();
        screens = X11Screens::create();
        monitors = X11EventMonitors::create(queue, clock, screens);
    }
    static void TearDownTestSuite()
    {
        monitors.reset();
        screens.reset();
        queue.reset();
        delete app;
        delete session;
    }

    static inline DesktopSession* session = nullptr;
    static inline QApplication* app = nullptr;
    static inline std::shared_ptr<ui::QtMainQueue> queue;
    static inline std::shared_ptr<SystemClock> clock = std::make_shared<SystemClock>();
    static inline std::shared_ptr<X11Screens> screens;
    static inline std::shared_ptr<X11EventMonitors> monitors;
    X11Client x;
};

TEST_F(X11InputTest, PointerAndKeysReachTheMonitorsOfTheWindowTheyConcern)
{
    ASSERT_TRUE(monitors->watchesRawInput());
    const ColouredWindow other(x.display(), "other application", 0xff0000, 100, 100, 500, 400);
    ASSERT_TRUE(waitUntil(5, [&] { return other.framed(); }));
    class OurWindow final : public QWidget {
    public:
        int escapes = 0;

    protected:
        void keyPressEvent(QKeyEvent* event) override { escapes += event->key() == Qt::Key_Escape; }
    } ours;
    ours.setWindowTitle("ours");
    ours.setGeometry(800, 200, 300, 200);
    ours.show();
    ASSERT_TRUE(session->waitForWindow("ours"));

    std::vector<PointerMovement> global, local;
    std::vector<int> keys, localKeys;
    int selfRemoving = 0;
    const MonitorToken g = monitors->addGlobalPointerMovedMonitor([&](const PointerMovement& m) { global.push_back(m); });
    const MonitorToken l = monitors->addLocalPointerMovedMonitor([&](const PointerMovement& m) { local.push_back(m); });
    const MonitorToken k = monitors->addGlobalKeyDownMonitor([&](const KeyEvent& e) { keys.push_back(e.keyCode); });
    MonitorToken once = 0;
    once = monitors->addGlobalPointerMovedMonitor([&](const PointerMovement&) {
        ++selfRemoving;
        monitors->removeMonitor(once);
    });
    // From a warp (no raw events) at `from`, five steps; what the monitors heard of them.
    const auto moves = [&](int fromX, int fromY, int dx, int dy, bool dragging = false) {
        x.warp(fromX, fromY);
        if (dragging) x.button(true);
        settle(0.2);
        global.clear();
        local.clear();
        for (int i = 0; i < 5; ++i) x.moveBy(dx, dy);
    };

    // Over another application: the global monitors get every movement, at the pointer's place.
    const double before = clock->uptime();
    moves(300, 300, 10, 5);
    ASSERT_TRUE(pumpUntil(10, [&] { return !global.empty() && global.back().location == Point {350, 325}; }));
    EXPECT_GE(global.back().uptime, before);
    EXPECT_LE(global.back().uptime, clock->uptime());
    EXPECT_TRUE(local.empty());
    EXPECT_EQ(selfRemoving, 1);
    // A drag is not a plain movement.
    moves(300, 300, 20, 0, true);
    settle(0.3);
    x.button(false);
    EXPECT_TRUE(global.empty());
    // Over our own window: only the local monitor.
    moves(900, 300, 5, 5);
    ASSERT_TRUE(pumpUntil(10, [&] { return !local.empty() && local.back().location == Point {925, 325}; }));
    EXPECT_TRUE(global.empty());

    // Escape typed into the other application: seen globally, and the application still gets it.
    x.focus(other.id());
    x.typeKey("Escape");
    EXPECT_TRUE(pumpUntil(10, [&] { return keys == std::vector<int> {KeyEvent::escape}; }));
    EXPECT_TRUE(x.receivedKeyPress(other.id(), "Escape"));
    // Escape typed into our own window: the local monitor swallows it, the global one never sees it.
    keys.clear();
    const MonitorToken lk = monitors->addLocalKeyDownMonitor([&](const KeyEvent& e) {
        localKeys.push_back(e.keyCode);
        return true;
    });
    x.focus(ours.winId());
    ASSERT_TRUE(pumpUntil(10, [&] { return ours.isActiveWindow(); }));
    x.typeKey("Escape");
    EXPECT_TRUE(pumpUntil(10, [&] { return localKeys == std::vector<int> {KeyEvent::escape}; }));
    monitors->removeMonitor(lk);
    x.typeKey("Escape");
    EXPECT_TRUE(pumpUntil(10, [&] { return ours.escapes == 1; }));
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(localKeys.size(), 1u);

    // Removed monitors hear nothing more.
    x.focus(other.id());
    for (const MonitorToken token : {g, l, k}) monitors->removeMonitor(token);
    moves(300, 300, 10, 0);
    x.typeKey("Escape");
    settle(0.3);
    EXPECT_TRUE(global.empty());
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(selfRemoving, 1);
}

TEST_F(X11InputTest, UrlsFilesAndSettingsPagesOpenThroughTheDesktopsTools)
{
    // Stand-ins for the desktop's programs come first on the PATH; each writes its arguments, one
    // per line, to <name>.called.
    const auto bin = session->home() / "bin";
    std::filesystem::create_directories(bin);
    for (const char* tool : {"xdg-open", "gnome-control-center", "fake-chromium"}) {
        const std::string script = (bin / tool).string();
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << script << ".part'\nmv '" << script << ".part' '"
                              << script << ".called'\n";
        ::chmod(script.c_str(), 0755);
    }
    ScopedEnvironment environment;
    environment.set("PATH", bin.string() + ":" + std::getenv("PATH"));
    // The arguments a stand-in was called with, once it has run.
    const auto calledWith = [&](const std::string& tool, double seconds = 5) -> std::optional<std::vector<std::string>> {
        const auto record = bin / (tool + ".called");
        if (!pumpUntil(seconds, [&] { return std::filesystem::exists(record); })) return std::nullopt;
        std::ifstream in(record);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        std::filesystem::remove(record);
        return lines;
    };
    X11Workspace workspace;
    EXPECT_TRUE(workspace.openURL("https://example.org/a b?q=1&r=2"));
    EXPECT_EQ(calledWith("xdg-open"), std::vector<std::string> {"https://example.org/a b?q=1&r=2"});

    // A browser through its launcher entry, with the entry's own quoting and field codes.
    const auto applications = session->home() / ".local/share/applications";
    std::filesystem::create_directories(applications);
    std::ofstream(applications / "chromium.desktop") << "[Desktop Entry]\nType=Application\nName=Chromium\nExec="
        << (bin / "fake-chromium").string() << " \"--class=a b\" --icon %i %U\n[Desktop Action new]\nExec=wrong\n";
    EXPECT_TRUE(workspace.isApplicationInstalled("org.chromium.Chromium"));
    EXPECT_FALSE(workspace.isApplicationInstalled("com.microsoft.edgemac"));
    EXPECT_TRUE(workspace.openURLWithApplication("chrome://extensions", "org.chromium.Chromium"));
    EXPECT_EQ(calledWith("fake-chromium"), (std::vector<std::string> {"--class=a b", "--icon", "chrome://extensions"}));
    EXPECT_FALSE(workspace.openURLWithApplication("edge://extensions", "com.microsoft.edgemac"));

    // The privacy panes: the desktop's own page where it has one, nothing otherwise (not xdg-open).
    using Command = std::optional<std::vector<std::string>>;
    const std::string pane = "x-apple.systempreferences:com.apple.preference.security?";
    for (const auto& [desktop, anchor, command] : {std::tuple {"ubuntu:GNOME", "Privacy_Accessibility",
             Command {{"gnome-control-center", "universal-access"}}},
             std::tuple {"GNOME", "Privacy_Microphone", Command {{"gnome-control-center", "sound"}}},
             std::tuple {"KDE", "Privacy_Accessibility", Command {{"systemsettings", "kcm_access"}}},
             std::tuple {"GNOME", "Privacy_ScreenCapture", Command {}}, std::tuple {"XFCE", "Privacy_Accessibility", Command {}}})
        EXPECT_EQ(X11Workspace::settingsCommand(pane + anchor, desktop), command) << desktop << " " << anchor;
    environment.set("XDG_CURRENT_DESKTOP", "GNOME");
    EXPECT_TRUE(workspace.openURL(pane + "Privacy_Accessibility"));
    EXPECT_EQ(calledWith("gnome-control-center"), std::vector<std::string> {"universal-access"});
    EXPECT_FALSE(workspace.openURL(pane + "Privacy_ScreenCapture"));
    EXPECT_FALSE(calledWith("xdg-open", 0.3).has_value()) << "a settings URL reached xdg-open";

    // Revealing a file: its folder opens when no file manager answers, else the file manager shows it.
    const auto folder = session->home() / "Extension folder";
    std::filesystem::create_directories(folder);
    const auto file = folder / "manifest.json";
    std::ofstream(file) << "{}";
    const auto url = [](const std::filesystem::path& p) { return QString::fromStdString("file://" + p.string()).replace(" ", "%20"); };
    EXPECT_TRUE(workspace.revealFile(file));
    EXPECT_EQ(calledWith("xdg-open"), std::vector<std::string> {url(folder).toStdString()});
    class FileManager final : public QDBusVirtualObject {
    public:
        QStringList shown;
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
        {
            if (message.member() != "ShowItems") return false;
            shown = message.arguments().value(0).toStringList();
            connection.send(message.createReply());
            return true;
        }
    } fileManager;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "file-manager");
    ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/FileManager1", &fileManager));
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    EXPECT_TRUE(workspace.revealFile(file));
    EXPECT_TRUE(pumpUntil(10, [&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown, QStringList {url(file)});
    EXPECT_FALSE(calledWith("xdg-open", 0.5).has_value());
    EXPECT_FALSE(workspace.revealFile(folder / "missing.json"));
    bus.unregisterService("org.freedesktop.FileManager1");
    bus.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("file-manager");
}

} // namespace
} // namespace zorvane::testing
