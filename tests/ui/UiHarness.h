#pragma once

#include "app/ui/ChatPanelController.h"
#include "app/ui/QtMainQueue.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"
#include "model/ModelHarness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace zorvane::testing {

// One QApplication for the test program, on Qt's offscreen platform unless a display is chosen.
inline QApplication& application()
{
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // No session bus: the theme must not wait for a portal, and nothing may leak onto a real one.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
        // The offscreen platform cannot shape windows; it says so on every resize.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (message.startsWith(QLatin1String("This plugin does not support"))) return;
            if (type >= QtCriticalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
        });
        auto* created = new QApplication(argc, argv);
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
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

template <typename T>
T* find(QWidget* root, const char* name)
{
    if (!root) return nullptr;
    return root->findChild<T*>(QString::fromLatin1(name));
}

// Visible on the screen: the widget and every ancestor shown.
inline bool shown(const QWidget* widget) { return widget && widget->isVisibleTo(widget->window()) && widget->window()->isVisible(); }

// Window images that can be held back, to look at the panel while the capture is under way.
class GatedWindowImages : public fakes::FakeWindowImages {
public:
    ~GatedWindowImages() override { holdCaptures(false); }
    void holdCaptures(bool hold)
    {
        std::lock_guard lock(gateMutex_);
        held_ = hold;
        gateChanged_.notify_all();
    }
    std::optional<WindowImage> compositeImage(const Rect& rect, std::optional<WindowNumber> below) override
    {
        std::unique_lock lock(gateMutex_);
        gateChanged_.wait(lock, [&] { return !held_; });
        lock.unlock();
        return fakes::FakeWindowImages::compositeImage(rect, below);
    }

private:
    std::mutex gateMutex_;
    std::condition_variable gateChanged_;
    bool held_ = false;
};

// Where the views' screenshots go when a developer asks for them.
inline void keepScreenshot(QWidget* window, const char* name)
{
    const char* folder = std::getenv("ZORVANE_SCREENSHOT_DIR");
    if (!folder || !window) return;
    for (int i = 0; i < 5; ++i) QApplication::processEvents(); // pending layouts first
    const QString suffix = ui::Theme::shared().isDark() ? QStringLiteral("-dark.png") : QStringLiteral("-light.png");
    window->grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name) + suffix);
}

// The model with every service real on Qt's event loop and the real chat panel, over the faked
// platform with a second screen to the right and a fake `codex` on a gate file.
class UiTest : public ::testing::Test, protected FakedPlatform {
protected:
    UiTest()
    {
        application();
        // Light unless a developer asks for dark screenshots.
        const char* scheme = std::getenv("ZORVANE_UI_SCHEME");
        const bool dark = scheme && std::string(scheme) == "dark";
        ui::Theme::shared().setOverride(dark ? ui::Theme::Scheme::dark : ui::Theme::Scheme::light);
        screens->addScreen(Rect(1440, 0, 1440, 900));
        // The answer waits for the test to open the gate, so "thinking" can be looked at.
        answerWith("while [ ! -e '" + gate().string() + "' ]; do sleep 0.02; done; cat '" + answerFile().string()
                   + "' > \"$answer\"");
    }

    ~UiTest() override
    {
        openGate();
        model.reset();
        chatPanel.reset();
        QApplication::processEvents();
    }

    std::filesystem::path gate() const { return codexSandbox.file("gate"); }
    std::filesystem::path answerFile() const { return codexSandbox.file("answer.md"); }
    void setAnswer(const std::string& markdown) { std::ofstream(answerFile()) << markdown; }
    void openGate() { std::ofstream(gate()) << "open"; }

    AppModel& startedModel()
    {
        defaults->setInteger(Defaults::onboardingVersion, 1);
        model = AppModel::create(platform(queue, windowImages, chatPanel));
        model->start();
        waitFor([&] { return model->codexStatus() != AppModel::checkingCodexStatus; });
        return *model;
    }

    // A selection of the "Guardar" button at `rect`, captured by the fake window images.
    CapturedContext selection(const Rect& rect, bool withImage = false)
    {
        CapturedContext context;
        context.kind = CapturedContext::Kind::interface;
        context.appName = "Notas";
        context.role = "botón";
        context.title = "Guardar";
        context.screenRect = rect;
        if (withImage) context.imageData = pngOf(rect);
        return context;
    }

    static std::vector<std::uint8_t> pngOf(const Rect& rect);

    std::shared_ptr<ui::QtMainQueue> queue = std::make_shared<ui::QtMainQueue>();
    std::shared_ptr<GatedWindowImages> windowImages = std::make_shared<GatedWindowImages>();
    std::shared_ptr<ui::QtChatPanelController> chatPanel = std::make_shared<ui::QtChatPanelController>(screens);
};

} // namespace zorvane::testing
