#pragma once

#include "app/core/Defaults.h"
#include "app/model/AppModel.h"
#include "fakes/CodexSandbox.h"
#include "fakes/FakeAccessibilityTree.h"
#include "fakes/FakeBridgePeers.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeVoice.h"
#include "fakes/FakeWindowSystem.h"
#include "fakes/MemoryPreferencesStore.h"
#include "fakes/TemporaryDirectory.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace zorvane::testing {

constexpr ProcessID notesPID = 200;
inline const Rect saveButton(100, 100, 200, 40);

// The whole application with every service real over a faked platform: everything permitted, one
// 1440 × 900 screen filled by a notes window with a "Guardar" button, a bundle with its browser
// host, the bridge's socket in the temporary home, and a fake `codex` that is signed in and answers at
// once. Each harness gives the main queue and the chat panel, and waits its own way.
class FakedPlatform {
protected:
    FakedPlatform()
    {
        permissions->grantAll();
        screens->addScreen(Rect(0, 0, 1440, 900));
        windowList->addWindow(notesPID, Rect(0, 0, 1440, 900));
        const auto window = tree->addElement(tree->addApplication(notesPID, "Notas"), "AXWindow", Rect(0, 0, 1440, 900));
        tree->addElement(window, "AXButton", saveButton, {{"AXTitle", std::string("Guardar")}});
        tree->setHit(notesPID, window);
        windowImages->setImage(fakes::FakeWindowImages::makeImage(saveButton, 1, [](std::uint32_t x, std::uint32_t) { return x; }));
        std::filesystem::create_directories(bundleDir / "Contents/Resources/BrowserExtension");
        fakes::writeFile(bundleDir / "Contents/MacOS/ZorvaneBrowserHost", "#!/bin/sh\n");
        ::chmod((bundleDir / "Contents/MacOS/ZorvaneBrowserHost").c_str(), 0755);
        answerWith("printf '  **Es** un botón.\\n' > \"$answer\"");
    }
    virtual ~FakedPlatform() = default;

    virtual std::shared_ptr<MainQueue> mainQueue() = 0;
    virtual std::shared_ptr<ChatPanelController> chatPanelPort() = 0;
    // Waits (in real time, bounded) for work finished on other threads to be applied.
    virtual bool waitUntil(const std::function<bool()>& done) = 0;

    void answerWith(const std::string& execBody) { codexSandbox.installFakeCodex(fakes::CodexSandbox::signedInStatus(), execBody); }
    // Puts real adapters in place of fakes before the model is made.
    virtual void adjust(AppPlatform&) {}

    AppModel& makeModel()
    {
        AppPlatform platform {.mainQueue = mainQueue(), .clock = clock, .defaults = defaults, .bundle = bundle, .permissions = permissions,
            .screens = screens, .windowList = windowList, .accessibilityTree = tree, .windowImages = windowImages, .overlayPanels = panels,
            .eventMonitors = events, .audioInput = audio, .speechRecognizers = recognizers, .workspace = workspace,
            .applicationWindows = windows, .loginItem = loginItem, .updater = updater, .chatPanel = chatPanelPort(),
            .onboardingWindow = onboarding, .codexOptions = codexSandbox.options(), .bridgeSocketPath = home / "zorvane/browser-bridge", .homeDirectory = home.path(),
            .configHome = home / ".config", .ownProcessID = 100, .speechLocale = "es_ES"};
        adjust(platform);
        model = AppModel::create(std::move(platform));
        return *model;
    }
    AppModel& startedModel()
    {
        makeModel().start();
        waitUntil([&] { return model->codexStatus() != AppModel::checkingCodexStatus; });
        return *model;
    }
    // A selection of the "Guardar" button at `rect`, with or without its picture.
    static CapturedContext selection(const Rect& rect = saveButton, std::optional<std::vector<std::uint8_t>> image = std::nullopt)
    {
        CapturedContext context;
        context.kind = CapturedContext::Kind::interface;
        context.appName = "Notas";
        context.role = "botón";
        context.title = "Guardar";
        context.screenRect = rect;
        context.imageData = std::move(image);
        return context;
    }
    // A browser's host, connected and greeted, serving the browser process `browser`.
    fakes::BridgeSocket connectHost(ProcessID browser = 300)
    {
        auto socket = fakes::BridgeSocket::connectTo(model->browserBridge()->socketPath());
        socket.send(BridgeProtocol::helloLine(browser));
        const std::size_t known = model->browserHosts().size();
        waitUntil([&] { return model->browserHosts().size() > known; });
        return socket;
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
    std::shared_ptr<fakes::FakeWindowImages> windowImages = std::make_shared<fakes::FakeWindowImages>();
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

// The model on a manual main queue with a chat panel that only records.
class ModelTest : public ::testing::Test, protected FakedPlatform {
protected:
    ~ModelTest() override
    {
        model.reset();
        queue->runPending();
    }
    std::shared_ptr<MainQueue> mainQueue() override { return queue; }
    std::shared_ptr<ChatPanelController> chatPanelPort() override { return chatPanel; }
    bool waitUntil(const std::function<bool()>& done) override { return queue->runUntil(done, std::chrono::seconds(20)); }

    // Six sideways pointer moves 1/16 s apart (a shake at the default sensitivity), then the pause.
    void shake()
    {
        for (int i = 0; i < 6; ++i, clock->advance(0.0625)) events->movePointerGlobally(Point {i % 2 ? 550.0 : 400.0, 500});
        clock->advance(2);
        queue->runPending();
    }

    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<fakes::FakeChatPanel> chatPanel = std::make_shared<fakes::FakeChatPanel>();
};

} // namespace zorvane::testing
