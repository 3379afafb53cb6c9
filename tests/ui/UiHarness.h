#pragma once

#include "app/ui/ChatPanelController.h"
#include "app/ui/QtMainQueue.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"
#include "model/ModelHarness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace zorvane::testing {

// Set in the copy of this program that a test runs on a private desktop (runOnPrivateDesktop).
inline bool onDesktop() { return std::getenv("ZORVANE_UI_ON_DESKTOP") != nullptr; }

// One QApplication for the test program, on Qt's offscreen platform, or on X11 answering over
// AT-SPI in the copy on a private desktop.
inline QApplication& application()
{
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (onDesktop()) {
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1); // whatever the session's switch says
        } else {
            if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            // No session bus: the theme must not wait for a portal, and nothing may leak onto a real one.
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
        }
        // The offscreen platform cannot shape windows; it says so on every resize.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type >= QtCriticalMsg && !message.startsWith(QLatin1String("This plugin does not support")))
                std::fprintf(stderr, "%s\n", qPrintable(message));
        });
        auto* created = new QApplication(argc, argv);
        // The offscreen platform knows no icon folders of its own; the desktop's platform does.
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
        ui::Symbols::installIconTheme();
        return created;
    }();
    return *app;
}

// Runs the event loop until `done()` holds or `seconds` pass; returns done().
inline bool waitFor(const std::function<bool()>& done, double seconds = 10)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < seconds * 1000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

template <typename T = QWidget> T* find(QWidget* root, const char* name)
{
    T* found = root ? root->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// Visible on the screen: the widget and every ancestor shown.
inline bool shown(const QWidget* widget) { return widget && widget->isVisibleTo(widget->window()) && widget->window()->isVisible(); }

// Screenshots for a developer to look at, when ZORVANE_SCREENSHOT_DIR names a folder.
inline void keepScreenshot(QWidget* window, const std::string& name)
{
    const char* folder = std::getenv("ZORVANE_SCREENSHOT_DIR");
    if (!folder || !window) return;
    waitFor([] { return false; }, 0.4); // pending layouts and animations first
    const QString suffix = ui::Theme::shared().isDark() ? QStringLiteral("-dark.png") : QStringLiteral("-light.png");
    window->grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QString::fromStdString(name) + suffix);
}

// The model on Qt's event loop with the real chat panel, a second screen to the right, and a fake
// `codex` that answers from a file once the test opens its gate (so "thinking" can be looked at).
// Every picture taken is the fake window images' one.
class UiTest : public ::testing::Test, protected FakedPlatform {
protected:
    UiTest()
    {
        application();
        const char* scheme = std::getenv("ZORVANE_UI_SCHEME"); // light unless dark screenshots are asked for
        ui::Theme::shared().setOverride(scheme && std::string(scheme) == "dark" ? ui::Theme::Scheme::dark : ui::Theme::Scheme::light);
        screens->addScreen(Rect(1440, 0, 1440, 900));
        answerWith("while [ ! -e '" + gate().string() + "' ]; do sleep 0.02; done; cat '" + answerFile().string() + "' > \"$answer\"");
    }
    ~UiTest() override
    {
        openGate();
        model.reset();
        chatPanel.reset();
        QApplication::processEvents();
    }
    std::shared_ptr<MainQueue> mainQueue() override { return queue; }
    std::shared_ptr<ChatPanelController> chatPanelPort() override { return chatPanel; }
    bool waitUntil(const std::function<bool()>& done) override { return waitFor(done); }

    std::filesystem::path gate() const { return codexSandbox.file("gate"); }
    std::filesystem::path answerFile() const { return codexSandbox.file("answer.md"); }
    void setAnswer(const std::string& markdown) { std::ofstream(answerFile()) << markdown; }
    void openGate() { std::ofstream(gate()) << "open"; }

    std::shared_ptr<ui::QtMainQueue> queue = std::make_shared<ui::QtMainQueue>();
    std::shared_ptr<ui::QtChatPanelController> chatPanel = std::make_shared<ui::QtChatPanelController>(screens);
};

} // namespace zorvane::testing
