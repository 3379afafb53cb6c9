#pragma once

#include "app/model/AppModel.h"
#include "app/core/Defaults.h"
#include "fakes/CodexSandbox.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeAppWindows.h"
#include "fakes/FakeAudioInput.h"
#include "fakes/FakeBridgePeers.h"
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

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace zorvane::testing {

constexpr ProcessID ownPID = 100;
constexpr ProcessID notesPID = 200;
inline const Rect saveButton(100, 100, 200, 40);

// The platform faked but for the main queue, the window images and the chat panel, which each
// harness picks: everything permitted, one 1440 × 900 screen, a bundle with its browser host, and
// the bridge on a free loopback port.
class FakedPlatform {
protected:
    FakedPlatform()
    {
        permissions->grantAll();
        screens->addScreen(Rect(0, 0, 1440, 900));
        std::filesystem::create_directories(bundleDir / "Contents/MacOS");
        std::filesystem::create_directories(bundleDir / "Contents/Resources/BrowserExtension");
        std::ofstream(bundleDir / "Contents/MacOS/ZorvaneBrowserHost") << "#!/bin/sh\n";
        ::chmod((bundleDir / "Contents/MacOS/ZorvaneBrowserHost").c_str(), 0755);
    }

    void answerWith(const std::string& execBody)
    {
        codexSandbox.installFakeCodex(fakes::CodexSandbox::signedInStatus(), execBody);
    }

    AppPlatform platform(std::shared_ptr<MainQueue> queue, std::shared_ptr<WindowImages> windowImages,
                         std::shared_ptr<ChatPanelController> chatPanel)
    {
        AppPlatform platform;
        platform.mainQueue = std::move(queue);
        platform.clock = clock;
        platform.defaults = defaults;
        platform.bundle = bundle;
        platform.permissions = permissions;
        platform.screens = screens;
        platform.windowList = windowList;
        platform.accessibilityTree = tree;
        platform.windowImages = std::move(windowImages);
        platform.overlayPanels = panels;
        platform.eventMonitors = events;
        platform.audioInput = audio;
        platform.speechRecognizers = recognizers;
        platform.workspace = workspace;
        platform.applicationWindows = windows;
        platform.loginItem = loginItem;
        platform.updater = updater;
        platform.chatPanel = std::move(chatPanel);
        platform.onboardingWindow = onboarding;
        platform.codexOptions = codexSandbox.options();
        platform.bridgePort = 0;
        platform.homeDirectory = home.path();
        platform.configHome = home / ".config";
        platform.ownProcessID = ownPID;
        platform.speechLocale = "es_ES";
        return platform;
    }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::MemoryPreferencesStore> store = std::make_shared<fakes::MemoryPreferencesStore>();
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(store);
    fakes::TemporaryDirectory home;
    std::filesystem::path bundleDir = home / "Zorvane.app";
    std::shared_ptr<fakes::FakeBundle> bundle = std::make_shared<fakes::FakeBundle>(bundleDir);
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<fakes::FakeScreens> screens = std::make_shared<fakes::FakeScreens>();
    std::shared_ptr<fakes::FakeWindowList> windowList = std::make_shared<fakes::FakeWindowList>();
    std::shared_ptr<fakes::FakeAccessibilityTree> tree = std::make_shared<fakes::FakeAccessibilityTree>();
    std::shared_ptr<fakes::FakeOverlayPanels> panels = std::make_shared<fakes::FakeOverlayPanels>();
    std::shared_ptr<fakes::FakeEventMonitors> events = std::make_shared<fakes::FakeEventMonitors>(clock);
    std::shared_ptr<fakes::FakeAudioInput> audio = std::make_shared<fakes::FakeAudioInput>();
    std::shared_ptr<fakes::FakeSpeechRecognizers> recognizers = std::make_shared<fakes::FakeSpeechRecognizers>();
    std::shared_ptr<fakes::FakeWorkspace> workspace = std::make_shared<fakes::FakeWorkspace>();
    std::shared_ptr<fakes::FakeApplicationWindows> windows = std::make_shared<fakes::FakeApplicationWindows>();
    std::shared_ptr<fakes::FakeLoginItem> loginItem = std::make_shared<fakes::FakeLoginItem>();
    std::shared_ptr<fakes::FakeUpdater> updater = std::make_shared<fakes::FakeUpdater>();
    std::shared_ptr<fakes::FakeOnboardingWindow> onboarding = std::make_shared<fakes::FakeOnboardingWindow>();
    fakes::CodexSandbox codexSandbox;
    std::shared_ptr<AppModel> model;
};

// The whole application with every service real on a manual main queue: a notes window with a
// "Guardar" button fills the screen, and the fake `codex` is signed in and answers at once.
class ModelTest : public ::testing::Test, protected FakedPlatform {
protected:
    ModelTest()
    {
        windowList->addWindow(notesPID, Rect(0, 0, 1440, 900));
        const auto app = tree->addApplication(notesPID, "Notas");
        const auto window = tree->addElement(app, "AXWindow", Rect(0, 0, 1440, 900));
        tree->addElement(window, "AXButton", saveButton, {{"AXTitle", std::string("Guardar")}});
        tree->setHit(notesPID, window);
        windowImages->setImage(fakes::FakeWindowImages::makeImage(saveButton, 1, [](std::uint32_t x, std::uint32_t) { return x; }));
        answerWith("printf '  **Es** un botón.\\n' > \"$answer\"");
    }

    ~ModelTest() override
    {
        model.reset();
        queue->runPending();
    }

    AppModel& makeModel()
    {
        auto made = platform(queue, windowImages, chatPanel);
        made.codexOptions.queryTimeLimit = queryTimeLimit;
        model = AppModel::create(std::move(made));
        return *model;
    }

    AppModel& startedModel()
    {
        makeModel();
        model->start();
        waitUntil([&] { return model->codexStatus() != AppModel::checkingCodexStatus; });
        return *model;
    }

    // Six sideways pointer moves 1/16 s apart: a shake at the default sensitivity.
    void shake()
    {
        for (int i = 0; i < 6; ++i) {
            if (i > 0) clock->advance(0.0625);
            events->movePointerGlobally(Point {i % 2 ? 550.0 : 400.0, 500});
        }
        clock->advance(2); // past the pause after a shake
        queue->runPending();
    }

    // Waits (in real time, bounded) for work finished on other threads to be applied.
    bool waitUntil(const std::function<bool()>& done) { return queue->runUntil(done, std::chrono::seconds(20)); }

    fakes::LoopbackSocket connectHost()
    {
        auto socket = fakes::LoopbackSocket::connectTo(model->browserBridge()->listeningPort());
        socket.send(BridgeProtocol::helloLine);
        waitUntil([&] { return model->browserExtensionConnected(); });
        return socket;
    }

    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<fakes::FakeWindowImages> windowImages = std::make_shared<fakes::FakeWindowImages>();
    std::shared_ptr<fakes::FakeChatPanel> chatPanel = std::make_shared<fakes::FakeChatPanel>();
    std::optional<double> queryTimeLimit; // for models made from now on
};

} // namespace zorvane::testing
