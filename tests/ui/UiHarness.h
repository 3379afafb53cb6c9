#pragma once

#include "app/model/AppModel.h"
#include "app/core/Defaults.h"
#include "app/ui/ChatPanelController.h"
#include "app/ui/QtMainQueue.h"
#include "app/ui/Symbols.h"
#include "app/ui/Theme.h"
#include "fakes/CodexSandbox.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeAppWindows.h"
#include "fakes/FakeAudioInput.h"
#include "fakes/FakeBundle.h"
#include "fakes/FakeEventMonitors.h"
#include "fakes/FakeOverlayPanels.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeScreens.h"
#include "fakes/FakeSpeechRecognizer.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeWindowImages.h"
#include "fakes/FakeWindowList.h"
#include "fakes/MemoryPreferencesStore.h"
#include "fakes/TemporaryDirectory.h"
#include "fakes/VirtualTime.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <fstream>
#include <functional>

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

// The model with every service real on Qt's event loop, the platform faked except the chat panel:
// two 1440 × 900 screens side by side, a "Guardar" button, and a fake `codex` on a gate file.
class UiTest : public ::testing::Test {
protected:
    UiTest()
    {
        application();
        // Light unless a developer asks for dark screenshots.
        const char* scheme = std::getenv("ZORVANE_UI_SCHEME");
        const bool dark = scheme && std::string(scheme) == "dark";
        ui::Theme::shared().setOverride(dark ? ui::Theme::Scheme::dark : ui::Theme::Scheme::light);
        permissions->grantAll();
        screens->addScreen(Rect(0, 0, 1440, 900));
        screens->addScreen(Rect(1440, 0, 1440, 900));
        std::filesystem::create_directories(bundleDir / "Contents/MacOS");
        std::filesystem::create_directories(bundleDir / "Contents/Resources/BrowserExtension");
        std::ofstream(bundleDir / "Contents/MacOS/ZorvaneBrowserHost") << "#!/bin/sh\n";
        std::filesystem::permissions(bundleDir / "Contents/MacOS/ZorvaneBrowserHost", std::filesystem::perms::owner_all);
        // The answer waits for the test to open the gate, so "thinking" can be looked at.
        answerWith("while [ ! -e '" + gate().string() + "' ]; do sleep 0.02; done; cat '" + answerFile().string()
                   + "' > \"$answer\"");
    }

    ~UiTest() override
    {
        std::ofstream(gate()) << "open";
        model.reset();
        chatPanel.reset();
        QApplication::processEvents();
    }

    void answerWith(const std::string& execBody)
    {
        codexSandbox.installFakeCodex(fakes::CodexSandbox::signedInStatus(), execBody);
    }
    std::filesystem::path gate() const { return codexSandbox.file("gate"); }
    std::filesystem::path answerFile() const { return codexSandbox.file("answer.md"); }
    void setAnswer(const std::string& markdown) { std::ofstream(answerFile()) << markdown; }
    void openGate() { std::ofstream(gate()) << "open"; }

    AppModel& startedModel()
    {
        AppPlatform platform;
        platform.mainQueue = queue;
        platform.clock = clock;
        platform.defaults = defaults;
        platform.bundle = bundle;
        platform.permissions = permissions;
        platform.screens = screens;
        platform.windowList = windowList;
        platform.accessibilityTree = tree;
        platform.windowImages = windowImages;
        platform.overlayPanels = panels;
        platform.eventMonitors = events;
        platform.audioInput = audio;
        platform.speechRecognizers = recognizers;
        platform.workspace = workspace;
        platform.applicationWindows = windows;
        platform.loginItem = loginItem;
        platform.updater = updater;
        platform.chatPanel = chatPanel;
        platform.onboardingWindow = onboarding;
        platform.codexOptions = codexSandbox.options();
        platform.bridgePort = 0;
        platform.homeDirectory = home.path();
        platform.configHome = home / ".config";
        platform.ownProcessID = 100;
        platform.speechLocale = "es_ES";
        defaults->setInteger(Defaults::onboardingVersion, 1);
        model = AppModel::create(std::move(platform));
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

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<ui::QtMainQueue> queue = std::make_shared<ui::QtMainQueue>();
    std::shared_ptr<fakes::MemoryPreferencesStore> store = std::make_shared<fakes::MemoryPreferencesStore>();
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(store);
    fakes::TemporaryDirectory home;
    std::filesystem::path bundleDir = home / "Zorvane.app";
    std::shared_ptr<fakes::FakeBundle> bundle = std::make_shared<fakes::FakeBundle>(bundleDir);
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeScreens> screens = std::make_shared<fakes::FakeScreens>();
    std::shared_ptr<fakes::FakeWindowList> windowList = std::make_shared<fakes::FakeWindowList>();
    std::shared_ptr<fakes::FakeAccessibilityTree> tree = std::make_shared<fakes::FakeAccessibilityTree>();
    std::shared_ptr<GatedWindowImages> windowImages = std::make_shared<GatedWindowImages>();
    std::shared_ptr<fakes::FakeOverlayPanels> panels = std::make_shared<fakes::FakeOverlayPanels>();
    std::shared_ptr<fakes::FakeEventMonitors> events = std::make_shared<fakes::FakeEventMonitors>();
    std::shared_ptr<fakes::FakeAudioInput> audio = std::make_shared<fakes::FakeAudioInput>();
    std::shared_ptr<fakes::FakeSpeechRecognizers> recognizers = std::make_shared<fakes::FakeSpeechRecognizers>();
    std::shared_ptr<fakes::FakeWorkspace> workspace = std::make_shared<fakes::FakeWorkspace>();
    std::shared_ptr<fakes::FakeApplicationWindows> windows = std::make_shared<fakes::FakeApplicationWindows>();
    std::shared_ptr<fakes::FakeLoginItem> loginItem = std::make_shared<fakes::FakeLoginItem>();
    std::shared_ptr<fakes::FakeUpdater> updater = std::make_shared<fakes::FakeUpdater>();
    std::shared_ptr<ui::QtChatPanelController> chatPanel = std::make_shared<ui::QtChatPanelController>(screens);
    std::shared_ptr<fakes::FakeOnboardingWindow> onboarding = std::make_shared<fakes::FakeOnboardingWindow>();
    fakes::CodexSandbox codexSandbox;
    std::shared_ptr<AppModel> model;
};

} // namespace zorvane::testing
