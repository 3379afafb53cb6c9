// The workspace on a private desktop: the frontmost application, and opening things through
// stand-ins for the desktop's tools that record how they were called.
#include "tests/support/DesktopSession.h"
#include "tests/x11_input/QtTestMainQueue.h"

#include "app/platform/linux/desktop/X11Workspace.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zorvane {
namespace {

using testing::DesktopSession;
using testing::waitUntil;

class X11WorkspaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session_ = new DesktopSession(testing::DesktopSessionOptions {.twoMonitors = false, .accessibilityBus = false});
        static int argc = 1;
        static char name[] = "x11_workspace_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QCoreApplication(argc, argv);
        // Stand-ins for the desktop's programs come first on the PATH; each writes its arguments,
        // one per line, to <name>.called.
        bin_ = session_->home() / "bin";
        std::filesystem::create_directories(bin_);
        for (const char* tool : {"xdg-open", "gnome-control-center", "systemsettings", "fake-chromium"}) {
            const std::string script = (bin_ / tool).string();
            std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << script << ".called.tmp'\nmv '" << script
                                  << ".called.tmp' '" << script << ".called'\n";
            ::chmod(script.c_str(), 0755);
        }
        savedPath_ = std::getenv("PATH");
        ::setenv("PATH", (bin_.string() + ":" + savedPath_).c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        ::setenv("PATH", savedPath_.c_str(), 1);
        delete app_;
        delete session_;
    }

    // The arguments a stand-in was called with, once it has run.
    static std::optional<std::vector<std::string>> calledWith(const std::string& tool, double seconds = 5)
    {
        const auto record = bin_ / (tool + ".called");
        if (!waitUntil([&] { return std::filesystem::exists(record); }, seconds)) return std::nullopt;
        std::ifstream in(record);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        std::filesystem::remove(record);
        return lines;
    }

    static inline DesktopSession* session_ = nullptr;
    static inline QCoreApplication* app_ = nullptr;
    static inline std::filesystem::path bin_;
    static inline std::string savedPath_;
};

TEST_F(X11WorkspaceTest, TheFrontmostBrowserIsNamedAsTheBridgeKnowsItAndOtherApplicationsAreNot)
{
    X11Workspace workspace;
    const auto profile = session_->home() / "chromium-profile";
    std::vector<std::string> chromium = {"chromium", "--user-data-dir=" + profile.string(), "--no-first-run",
        "--no-default-browser-check", "--disable-gpu", "--password-store=basic", "--window-size=800,600", "about:blank"};
    if (::geteuid() == 0) chromium.push_back("--no-sandbox");
    const pid_t browser = session_->spawn(chromium);
    ASSERT_TRUE(session_->waitForWindow("Chromium", 60));
    EXPECT_TRUE(waitUntil([&] { return workspace.frontmostApplicationIdentifier() == "org.chromium.Chromium"; }, 20));

    const pid_t gtk = session_->spawn({"/usr/bin/python3", "-c",
        "import gi; gi.require_version('Gtk', '3.0'); from gi.repository import GLib; GLib.set_prgname('gtk-window'); "
        "from gi.repository import Gtk; "
        "w = Gtk.Window(title='A GTK window'); w.connect('destroy', Gtk.main_quit); w.show_all(); Gtk.main()"});
    ASSERT_TRUE(session_->waitForWindow("A GTK window", 30));
    std::optional<std::string> identifier;
    EXPECT_TRUE(waitUntil([&] {
        identifier = workspace.frontmostApplicationIdentifier();
        return identifier && identifier != "org.chromium.Chromium";
    }, 20));
    ASSERT_TRUE(identifier.has_value());
    EXPECT_EQ(*identifier, "local.x11.gtk-window");

    session_->stop(gtk);
    session_->stop(browser);
}

TEST_F(X11WorkspaceTest, UrlsFilesAndSettingsPagesOpenThroughTheDesktopsTools)
{
    X11Workspace workspace;

    EXPECT_TRUE(workspace.openURL("https://example.org/a b?q=1&r=2"));
    EXPECT_EQ(calledWith("xdg-open"), std::vector<std::string> {"https://example.org/a b?q=1&r=2"});

    // A browser through its launcher entry, with the entry's own quoting and field codes.
    const auto applications = session_->home() / ".local/share/applications";
    std::filesystem::create_directories(applications);
    std::ofstream(applications / "chromium.desktop") << "[Desktop Entry]\nType=Application\nName=Chromium\n"
                                                      << "Exec=" << (bin_ / "fake-chromium").string()
                                                      << " \"--class=a b\" --icon %i %U\n[Desktop Action new]\nExec=wrong\n";
    EXPECT_TRUE(workspace.isApplicationInstalled("org.chromium.Chromium"));
    EXPECT_FALSE(workspace.isApplicationInstalled("com.microsoft.edgemac"));
    EXPECT_TRUE(workspace.openURLWithApplication("chrome://extensions", "org.chromium.Chromium"));
    EXPECT_EQ(calledWith("fake-chromium"), (std::vector<std::string> {"--class=a b", "--icon", "chrome://extensions"}));
    EXPECT_FALSE(workspace.openURLWithApplication("edge://extensions", "com.microsoft.edgemac"));

    // The privacy panes: the desktop's own page where it has one, nothing otherwise.
    const std::string pane = "x-apple.systempreferences:com.apple.preference.security?";
    struct Case {
        const char* desktop;
        std::string anchor;
        const char* tool;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"ubuntu:GNOME", "Privacy_Accessibility", "gnome-control-center", {"universal-access"}},
        {"GNOME", "Privacy_Microphone", "gnome-control-center", {"sound"}},
        {"KDE", "Privacy_Accessibility", "systemsettings", {"kcm_access"}},
        {"GNOME", "Privacy_ScreenCapture", nullptr, {}},
        {"XFCE", "Privacy_Accessibility", nullptr, {}},
    };
    for (const Case& c : cases) {
        ::setenv("XDG_CURRENT_DESKTOP", c.desktop, 1);
        EXPECT_EQ(workspace.openURL(pane + c.anchor), c.tool != nullptr) << c.desktop << " " << c.anchor;
        if (c.tool) {
            EXPECT_EQ(calledWith(c.tool), c.arguments) << c.desktop << " " << c.anchor;
        }
    }
    ::unsetenv("XDG_CURRENT_DESKTOP");
    EXPECT_FALSE(calledWith("xdg-open", 0.3).has_value()) << "a settings URL reached xdg-open";

    // Revealing a file: the file manager's interface when one answers, else its folder opens.
    const auto folder = session_->home() / "Extension folder";
    std::filesystem::create_directories(folder);
    const auto file = folder / "manifest.json";
    std::ofstream(file) << "{}";
    EXPECT_TRUE(workspace.revealFile(file));
    EXPECT_EQ(calledWith("xdg-open"), std::vector<std::string> {QString::fromStdString("file://" + folder.string()).replace(" ", "%20").toStdString()});

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
    EXPECT_TRUE(waitUntil([&] { return !fileManager.shown.isEmpty(); }));
    EXPECT_EQ(fileManager.shown, QStringList {QString::fromStdString("file://" + file.string()).replace(" ", "%20")});
    EXPECT_FALSE(calledWith("xdg-open", 0.5).has_value());
    EXPECT_FALSE(workspace.revealFile(folder / "missing.json"));
    bus.unregisterService("org.freedesktop.FileManager1");
    bus.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("file-manager");
}

} // namespace
} // namespace zorvane
