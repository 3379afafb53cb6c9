#include "ModelHarness.h"

namespace zorvane::testing {

TEST_F(ModelTest, StartRunsOnceBringsEveryServiceUpAndOnboardingOpensOnlyUntilFinished)
{
    AppModel& app = makeModel();
    EXPECT_EQ(defaults->integerForKey(Defaults::gestureProfileVersion), 2);
    EXPECT_EQ(app.codexStatus(), "Comprobando Codex…");
    app.start();
    EXPECT_EQ(onboarding->showCount, 0) << "shown only after start() has returned";
    waitUntil([&] { return app.codexStatus() != AppModel::checkingCodexStatus; });
    const std::uint16_t port = app.browserBridge()->listeningPort();
    EXPECT_NE(port, 0);
    app.start();
    queue->runPending();
    EXPECT_EQ(chatPanel->prepareCount, 1);
    EXPECT_EQ(events->globalPointerMovedMonitorCount(), 1u);
    EXPECT_EQ(events->localPointerMovedMonitorCount(), 1u);
    EXPECT_EQ(app.browserBridge()->listeningPort(), port);
    EXPECT_EQ(onboarding->showCount, 1);

    EXPECT_EQ(app.permissionState(), (PermissionState {true, true, true, true}));
    EXPECT_EQ(app.codexStatus(), "Logged in using ChatGPT");
    // The manifests were written for every browser.
    EXPECT_TRUE(std::filesystem::exists(home / ".config/google-chrome/NativeMessagingHosts/com.quenvar.zorvane.json"));
    EXPECT_TRUE(std::filesystem::exists(home / ".config/chromium/NativeMessagingHosts/com.quenvar.zorvane.json"));
    EXPECT_EQ(app.lastError(), std::nullopt);

    defaults->setInteger(Defaults::onboardingVersion, 1);
    model.reset();
    startedModel();
    queue->runPending();
    EXPECT_EQ(onboarding->showCount, 1);
}

TEST_F(ModelTest, AFailedManifestInstallIsReportedAndStartGoesOn)
{
    std::filesystem::remove(bundleDir / "Contents/MacOS/ZorvaneBrowserHost");
    AppModel& app = startedModel();
    ASSERT_TRUE(app.lastError());
    EXPECT_EQ(app.lastError()->rfind("No se pudo preparar la extensión web: ", 0), 0u) << *app.lastError();
    EXPECT_EQ(events->globalPointerMovedMonitorCount(), 1u);
    EXPECT_FALSE(std::filesystem::exists(home / ".config/chromium/NativeMessagingHosts/com.quenvar.zorvane.json"));
}

TEST_F(ModelTest, PermissionRefreshesWriteWhenEachWakes)
{
    AppModel& app = startedModel();
    permissions->screenRecording = false;
    app.refreshPermissions(0.5);
    app.refreshPermissions(0);
    queue->runPending();
    EXPECT_FALSE(app.permissionState().screenRecording) << "the undelayed refresh writes first";
    permissions->screenRecording = true;
    queue->advance(0.49);
    EXPECT_FALSE(app.permissionState().screenRecording);
    queue->advance(0.01);
    EXPECT_TRUE(app.permissionState().screenRecording);
}

TEST_F(ModelTest, PermissionRequestsPromptOrOpenTheRightPane)
{
    AppModel& app = startedModel();
    permissions->screenRecording = false;
    app.requestScreenRecording();
    EXPECT_EQ(permissions->screenRecordingRequests, 1);
    EXPECT_EQ(workspace->openedURLs, std::vector<std::string> {"x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture"});

    // Denied before: the pane opens and nobody is asked.
    permissions->microphone = false;
    permissions->microphoneUndecided = Permissions::Status::denied;
    app.requestMicrophonePermission();
    EXPECT_EQ(audio->pendingAccessRequestCount(), 0u);
    EXPECT_EQ(workspace->openedURLs.back(), "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");

    // Not asked yet: the system asks, and the answer refreshes the snapshot.
    permissions->microphoneUndecided = Permissions::Status::notDetermined;
    app.requestMicrophonePermission();
    EXPECT_EQ(audio->pendingAccessRequestCount(), 1u);
    permissions->microphone = true;
    audio->answerAccessRequests();
    ASSERT_TRUE(waitUntil([&] { return app.permissionState().microphone; }));
    EXPECT_EQ(workspace->openedURLs.size(), 2u);

    permissions->accessibility = false;
    permissions->grantAccessibilityWhenAsked = true;
    app.requestAccessibility();
    EXPECT_EQ(permissions->accessibilityRequests, 1);
    queue->advance(0.5);
    EXPECT_TRUE(app.permissionState().accessibility);
}

TEST_F(ModelTest, TheStartAtLoginToggleAlwaysShowsTheRealState)
{
    loginItem->currentStatus = LoginItem::Status::enabled;
    AppModel& app = startedModel();
    EXPECT_TRUE(app.launchAtLoginEnabled());
    app.setLaunchAtLogin(true);
    EXPECT_EQ(loginItem->registerCalls, 0);
    EXPECT_EQ(app.lastError(), std::nullopt);

    loginItem->failNextCall = true;
    app.setLaunchAtLogin(false);
    EXPECT_TRUE(app.launchAtLoginEnabled());
    ASSERT_TRUE(app.lastError());
    EXPECT_EQ(app.lastError()->rfind("No se pudo cambiar el inicio automático: ", 0), 0u);
}

TEST_F(ModelTest, TheSettingsWindowIsRaisedByTitleOrIdentifierThreeTimes)
{
    AppModel& app = startedModel();
    windows->list = {{1, "Primeros pasos", "onboarding", true}, {2, "Ajustes de Zorvane", "", false}, {3, "AJUSTES", "", true}};
    app.bringSettingsToFront();
    EXPECT_EQ(windows->activations, 1);
    queue->advance(0.2);
    EXPECT_EQ(windows->raised, (std::vector<std::uint64_t> {3, 3}));
    windows->list = {{4, "Zorvane", "com.zorvane.Settings-window", true}};
    queue->advance(0.2);
    EXPECT_EQ(windows->raised, (std::vector<std::uint64_t> {3, 3, 4}));
    EXPECT_EQ(windows->activations, 4);
}

TEST_F(ModelTest, SettingUpTheExtensionRevealsItAndOpensTheFirstInstalledBrowser)
{
    AppModel& app = startedModel();
    workspace->installed = {"com.google.Chrome", "company.thebrowser.Browser"};
    app.prepareBrowserExtension();
    ASSERT_EQ(workspace->revealed.size(), 1u);
    EXPECT_EQ(workspace->revealed[0], bundleDir / "Contents/Resources/BrowserExtension");
    queue->advance(0.39);
    EXPECT_TRUE(workspace->openedWithApplication.empty());
    queue->advance(0.01);
    ASSERT_EQ(workspace->openedWithApplication.size(), 1u);
    EXPECT_EQ(workspace->openedWithApplication[0], (std::pair<std::string, std::string> {"arc://extensions", "company.thebrowser.Browser"}));

    workspace->installed.clear();
    app.openBrowserExtensions();
    EXPECT_EQ(app.lastError(), "Instala Chrome, Chromium, Edge o Brave para usar la selección web precisa.");
    EXPECT_EQ(workspace->openedWithApplication.size(), 1u);
}

TEST_F(ModelTest, NothingRunsForAModelThatIsGone)
{
    startedModel();
    model->refreshPermissions(1);
    model->prepareBrowserExtension();
    std::weak_ptr<AppModel> weak = model;
    model.reset();
    EXPECT_TRUE(weak.expired()) << "something keeps the model alive";
    queue->advance(2);
    EXPECT_TRUE(workspace->openedWithApplication.empty());
}

} // namespace zorvane::testing
