#include "ModelHarness.h"

namespace zorvane::testing {

TEST_F(ModelTest, StartBringsEveryServiceUpOnceOnboardingOpensUntilFinishedAndAFailedSetupIsReported)
{
    AppModel& app = makeModel();
    app.start();
    EXPECT_EQ(onboarding->showCount, 0) << "shown only after start() has returned";
    waitUntil([&] { return app.codexStatus() != AppModel::checkingCodexStatus; });
    const std::uint16_t port = app.browserBridge()->listeningPort();
    app.start();
    queue->runPending();
    EXPECT_EQ(events->installedMonitorCount(), 2u) << "one global and one local pointer monitor";
    EXPECT_EQ(app.browserBridge()->listeningPort(), port);
    EXPECT_EQ(onboarding->showCount, 1);
    EXPECT_EQ(app.lastError(), std::nullopt);

    // Finished onboarding, and a browser host that cannot be set up: said, and the start goes on.
    defaults->setInteger(Defaults::onboardingVersion, 1);
    std::filesystem::remove(bundleDir / "Contents/MacOS/ZorvaneBrowserHost");
    model.reset();
    startedModel();
    queue->runPending();
    EXPECT_EQ(onboarding->showCount, 1);
    EXPECT_EQ(model->lastError().value_or("").rfind("No se pudo preparar la extensión web: ", 0), 0u) << *model->lastError();
    EXPECT_EQ(events->installedMonitorCount(), 2u) << "the shake must still work";
}

TEST_F(ModelTest, PermissionRequestsPromptOrOpenTheRightPaneAndTheStateFollows)
{
    AppModel& app = startedModel();
    permissions->screenRecording = false;
    permissions->accessibility = false;
    app.requestScreenRecording();
    permissions->microphone = false;
    permissions->microphoneUndecided = Permissions::Status::denied; // denied before: nobody is asked
    app.requestMicrophonePermission();
    EXPECT_EQ(audio->accessRequests.count(), 0u);
    const std::string panes = "x-apple.systempreferences:com.apple.preference.security?Privacy_";
    EXPECT_EQ(workspace->openedURLs, (std::vector<std::string> {panes + "ScreenCapture", panes + "Microphone"}));
    permissions->microphoneUndecided = Permissions::Status::notDetermined; // not asked yet: the system asks
    app.requestMicrophonePermission();
    EXPECT_EQ(audio->accessRequests.count(), 1u);
    permissions->microphone = true;
    audio->accessRequests.answerAll();
    ASSERT_TRUE(waitUntil([&] { return app.permissionState().microphone; }));
    EXPECT_EQ(workspace->openedURLs.size(), 2u);

    // Accessibility, granted outside the application, shows half a second after it was asked for.
    queue->advance(0.5);
    ASSERT_FALSE(app.permissionState().accessibility);
    permissions->grantAccessibilityWhenAsked = true;
    app.requestAccessibility();
    EXPECT_EQ(permissions->accessibilityRequests, 1);
    queue->advance(0.49);
    EXPECT_FALSE(app.permissionState().accessibility);
    queue->advance(0.01);
    EXPECT_TRUE(app.permissionState().accessibility);
}

TEST_F(ModelTest, TheSettingsWindowIsRaisedUntilItAppearsAndTheExtensionSetUpInTheFirstBrowserInstalled)
{
    AppModel& app = startedModel();
    windows->list = {{1, "Primeros pasos", "onboarding", true}, {2, "Ajustes de Zorvane", "", false}, {3, "AJUSTES", "", true}};
    app.bringSettingsToFront();
    queue->advance(0.2);
    EXPECT_EQ(windows->raised, (std::vector<std::uint64_t> {3, 3}));
    windows->list = {{4, "Zorvane", "com.zorvane.Settings-window", true}};
    queue->advance(0.2);
    EXPECT_EQ(windows->raised, (std::vector<std::uint64_t> {3, 3, 4}));
    EXPECT_EQ(windows->activations, 4);

    workspace->installed = {"com.google.Chrome", "company.thebrowser.Browser"};
    app.prepareBrowserExtension();
    EXPECT_EQ(workspace->revealed, std::vector<std::filesystem::path> {bundleDir / "Contents/Resources/BrowserExtension"});
    queue->advance(0.39);
    EXPECT_TRUE(workspace->openedWithApplication.empty());
    queue->advance(0.01);
    EXPECT_EQ(workspace->openedWithApplication,
        (std::vector<std::pair<std::string, std::string>> {{"arc://extensions", "company.thebrowser.Browser"}}));
    workspace->installed.clear();
    app.openBrowserExtensions();
    EXPECT_EQ(app.lastError(), "Instala Chrome, Chromium, Edge o Brave para usar la selección web precisa.");
    EXPECT_EQ(workspace->openedWithApplication.size(), 1u);
}

TEST_F(ModelTest, NothingRunsForAModelThatIsGone)
{
    workspace->installed = {"com.google.Chrome"};
    startedModel().prepareBrowserExtension(); // opens the browser 0.4 s later
    model->refreshPermissions(1);
    std::weak_ptr<AppModel> weak = model;
    model.reset();
    EXPECT_TRUE(weak.expired()) << "something keeps the model alive";
    queue->advance(2);
    EXPECT_TRUE(workspace->openedWithApplication.empty());
}

} // namespace zorvane::testing
