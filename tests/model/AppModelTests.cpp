#include "ModelHarness.h"

#include <sodium.h>

#include <cstring>

namespace zorvane::testing {
namespace {

std::string selectionStartedLine(const UUID& id, const std::string& title)
{
    return "{\"type\":\"selectionStarted\",\"selectionID\":\"" + id.uuidString() + "\",\"title\":\"" + title + "\"}\n";
}

std::string selectionLine(const UUID& id, const std::vector<std::uint8_t>& png)
{
    std::string base64(sodium_base64_encoded_len(png.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(base64.data(), base64.size(), png.data(), png.size(), sodium_base64_VARIANT_ORIGINAL);
    base64.resize(std::strlen(base64.c_str()));
    return "{\"type\":\"selection\",\"selectionID\":\"" + id.uuidString() + "\",\"title\":\"Otro\",\"imageBase64\":\"" + base64 + "\"}\n";
}

const std::vector<std::uint8_t> cropPNG {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3};

std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

} // namespace

TEST_F(ModelTest, AShakeAClickAndAQuestionEndInARenderedAnswer)
{
    AppModel& app = startedModel();
    shake();
    ASSERT_EQ(panels->onScreen().size(), 1u) << "the overlay did not open";
    clock->advance(0.1);
    panels->user().onMove({150, 115});
    panels->click({150, 115});
    ASSERT_TRUE(app.selectedContext());
    EXPECT_EQ(app.selectedContext()->title, "Guardar");
    EXPECT_EQ(chatPanel->shownNear, std::vector<Rect> {saveButton});
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    ASSERT_EQ(windowImages->requests().size(), 1u);
    EXPECT_EQ(windowImages->requests()[0].belowWindow, 77u) << "the panel must be left out of the picture";

    app.setDraft("  ¿Para qué sirve?\n");
    app.send();
    EXPECT_TRUE(app.isLoading());
    EXPECT_EQ(app.draft(), "");
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_EQ(app.response(), "**Es** un botón.");
    EXPECT_EQ(fakes::readFile(codexSandbox.file("image")), text(app.selectedContext()->imageData.value_or(std::vector<std::uint8_t> {})));
    EXPECT_NE(fakes::readFile(codexSandbox.file("prompt")).find("Pregunta del usuario:\n¿Para qué sirve?"), std::string::npos);
    EXPECT_TRUE(codexSandbox.temporaryEntries().empty());
}

TEST_F(ModelTest, TheBrowserInFrontSelectsInItsPageAndTheScreenTakesOverWhenThePageCannot)
{
    constexpr ProcessID chromePID = 300, chromiumPID = 400;
    const std::string activate(BridgeProtocol::activateLine), cancel(BridgeProtocol::cancelLine);
    AppModel& app = startedModel();
    workspace->frontmostPID = chromePID;
    app.handleActivationGesture();
    EXPECT_EQ(panels->onScreen().size(), 1u) << "without the extension the overlay must open";
    app.cancelSelection();
    auto chrome = connectHost(chromePID), chromium = connectHost(chromiumPID);
    // Lets the model see what a host has just sent before the clock moves.
    const auto hostSays = [&](fakes::BridgeSocket& host, const std::string& line) {
        const auto posted = queue->postedCount() + 1;
        host.send(line);
        ASSERT_TRUE(queue->waitForPosted(posted));
        queue->runPending();
    };

    // Chrome is in front and is asked; its page shows no picker in time: the picker is called off
    // and the overlay opens instead.
    chatPanel->isVisible = true;
    app.handleActivationGesture();
    EXPECT_EQ(chrome.receiveLine(), activate) << "the overlay's cancel must not reach the page";
    EXPECT_EQ(panels->shown().size(), 1u) << "no overlay while the page selects";
    EXPECT_FALSE(chatPanel->isVisible);
    queue->advance(BrowserSelection::activationDeadline);
    EXPECT_EQ(chrome.receiveLine(), cancel);
    EXPECT_EQ(panels->onScreen().size(), 1u);
    app.cancelSelection();

    // Chromium in front (the one window that does not say its process): its picker shows in time,
    // and the user picks there.
    workspace->frontmostPID.reset();
    workspace->frontmost = workspace->processes[chromiumPID] = "org.chromium.Chromium";
    events->setPointerLocation({700, 400});
    app.handleActivationGesture();
    EXPECT_EQ(chromium.receiveLine(), activate);
    hostSays(chromium, "{\"type\":\"pickerShown\"}\n");
    queue->advance(BrowserSelection::activationDeadline);
    EXPECT_EQ(panels->shown().size(), 2u);
    hostSays(chrome, cancel); // another browser's cancel is not this selection's
    EXPECT_TRUE(app.isSelecting());
    const UUID id;
    chromium.send(selectionStartedLine(id, "Precio del producto"));
    ASSERT_TRUE(waitUntil([&] { return app.selectedContext().has_value(); }));
    EXPECT_TRUE(!app.isSelecting() && app.isPreparingSelectionImage());
    const CapturedContext& placeholder = *app.selectedContext();
    EXPECT_EQ(placeholder.appName + " · " + placeholder.role + " · " + placeholder.title, "Navegador · Elemento web · Precio del producto");
    EXPECT_EQ(chatPanel->shownNear.back(), Rect(698, 398, 4, 4));
    hostSays(chrome, selectionLine(id, {9, 9, 9})); // the right id from the wrong browser
    EXPECT_TRUE(app.isPreparingSelectionImage());
    chromium.send(selectionLine(UUID(), {9, 9, 9})); // a stale crop
    chromium.send(selectionLine(id, cropPNG));
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(app.selectedContext()->imageData, cropPNG);
    app.send();
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_NE(fakes::readFile(codexSandbox.file("prompt")).find(AppModel::defaultQuestion), std::string::npos);
    EXPECT_EQ(fakes::readFile(codexSandbox.file("image")), text(cropPNG));

    // Begun in the page, a selection opens the panel too. Cancelled there, it stays without its
    // picture however late that comes; its browser gone, the panel says why.
    const UUID second;
    chromium.send(selectionStartedLine(second, "Tabla"));
    ASSERT_TRUE(waitUntil([&] { return app.isPreparingSelectionImage(); }));
    chromium.send(cancel);
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    hostSays(chromium, selectionLine(second, cropPNG));
    EXPECT_FALSE(app.selectedContext()->imageData);
    chrome.send(selectionStartedLine(UUID(), "Tabla"));
    ASSERT_TRUE(waitUntil([&] { return app.isPreparingSelectionImage(); }));
    chrome.close();
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(app.lastError(), "Se perdió la conexión con el navegador.");
    // Asked and not yet picking when its browser goes: back to idle, and the next shake works.
    app.handleActivationGesture();
    EXPECT_EQ(chromium.receiveLine(), activate);
    chromium.close();
    ASSERT_TRUE(waitUntil([&] { return !app.isSelecting(); }));
    EXPECT_EQ(app.lastError(), std::nullopt);
    EXPECT_FALSE(app.browserExtensionConnected());
    shake();
    EXPECT_EQ(panels->onScreen().size(), 1u);
}

TEST_F(ModelTest, ThePictureWaitsForTheOverlayToGoAndIsKeptOnlyForTheSelectionShown)
{
    AppModel& app = startedModel();
    panels->unmapLate = true; // the window system takes its time to unmap the veil
    app.activateSelection();
    panels->click({150, 115});
    queue->advance(0.1);
    EXPECT_TRUE(windowImages->requests().empty()) << "the veil would be in the picture";
    panels->finishUnmapping();
    queue->advance(AppModel::panelSettlePollInterval);
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(windowImages->requests().size(), 1u);

    // A panel that never reaches the screen holds the picture back only for a moment.
    chatPanel->mapsWhenShown = false;
    app.acceptSelection(selection());
    queue->advance(AppModel::panelSettleLimit - 0.05);
    EXPECT_EQ(windowImages->requests().size(), 1u);
    queue->advance(0.06);
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_TRUE(app.selectedContext()->imageData);
    chatPanel->mapsWhenShown = true;

    // A picture that comes after its selection was closed, or replaced by one with its own image,
    // brings nothing back and shows no failure.
    const auto lateResult = [&](const std::function<void()>& meanwhile) {
        windowImages->hold(true);
        const std::size_t asked = windowImages->requests().size();
        app.acceptSelection(selection());
        ASSERT_TRUE(waitUntil([&] { return windowImages->requests().size() == asked + 1; }));
        meanwhile();
        queue->runPending();
        ASSERT_EQ(queue->pendingCount(), 0u);
        windowImages->hold(false);
        ASSERT_TRUE(queue->waitForTask());
        queue->runPending();
    };
    lateResult([&] { app.closeComposer(); });
    EXPECT_FALSE(app.selectedContext());
    EXPECT_FALSE(app.isPreparingSelectionImage());
    windowImages->setImage(std::nullopt);
    const CapturedContext withImage = selection(saveButton, std::vector<std::uint8_t> {1});
    lateResult([&] { app.acceptSelection(withImage); });
    EXPECT_EQ(app.lastError(), std::nullopt);
    EXPECT_EQ(app.selectedContext(), withImage);
    EXPECT_EQ(windowImages->requests().size(), 4u) << "a selection that came with its picture is not taken again";
}

TEST_F(ModelTest, QuittingEndsTheQuestionRunningAndRemovesItsFiles)
{
    answerWith(codexSandbox.hangingExecBody());
    startedModel().acceptSelection(selection(saveButton, std::vector<std::uint8_t> {1, 2}));
    model->send();
    const auto running = codexSandbox.hangingProcesses();
    ASSERT_EQ(running.size(), 2u);
    model.reset();
    for (const pid_t pid : running) EXPECT_TRUE(fakes::CodexSandbox::processEnds(pid));
    EXPECT_TRUE(std::filesystem::is_empty(codexSandbox.temporaryDirectory())) << "the model's folder stays";
}

TEST_F(ModelTest, SelectionFailuresLeaveTheirMessages)
{
    AppModel& app = startedModel();
    permissions->accessibility = false;
    chatPanel->isVisible = true;
    app.activateSelection();
    EXPECT_EQ(app.lastError(), "Accesibilidad aún no está disponible. Ábrela desde Ajustes > Privacidad y vuelve a intentarlo.");
    EXPECT_FALSE(app.isSelecting());
    EXPECT_TRUE(panels->shown().empty());
    EXPECT_TRUE(chatPanel->isVisible) << "the panel is not hidden";
    EXPECT_TRUE(waitUntil([&] { return !app.permissionState().accessibility; }));

    permissions->accessibility = true;
    app.activateSelection();
    EXPECT_EQ(app.lastError(), std::nullopt) << "starting a selection clears the message";
    app.activateSelection(); // already selecting: nothing changes
    EXPECT_EQ(panels->shown().size(), 1u);
    app.cancelSelection();

    permissions->screenRecording = false;
    app.acceptSelection(selection());
    EXPECT_FALSE(app.selectedContext());
    EXPECT_EQ(app.lastError(), "Activa Grabación de pantalla desde Ajustes: Zorvane envía siempre una imagen de la selección.");
    EXPECT_TRUE(windowImages->requests().empty());

    permissions->screenRecording = true;
    windowImages->setImage(std::nullopt);
    app.acceptSelection(selection());
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_FALSE(app.selectedContext());
    EXPECT_EQ(app.lastError(), "No se pudo capturar el elemento seleccionado.");
}

TEST_F(ModelTest, SendingOnlyWhenThereIsSomethingToAskAndNothingPendingAndAFailureIsShown)
{
    AppModel& app = startedModel();
    app.setDraft(" \n\t ");
    app.send();
    EXPECT_FALSE(app.isLoading()) << "blank draft and no selection";

    app.acceptSelection(selection());
    ASSERT_TRUE(app.isPreparingSelectionImage());
    app.setDraft("hola");
    app.send();
    EXPECT_FALSE(app.isLoading()) << "the image is still being captured";
    EXPECT_EQ(app.draft(), "hola");
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));

    // A slow answer: a second send does nothing, and closing the panel ends the question: the tool
    // and its files go.
    answerWith(codexSandbox.hangingExecBody());
    app.send();
    ASSERT_TRUE(app.isLoading());
    app.setDraft("otra");
    app.send();
    EXPECT_EQ(app.draft(), "otra");
    auto running = codexSandbox.hangingProcesses();
    app.closeComposer();
    EXPECT_FALSE(app.isLoading());
    for (const pid_t pid : running) EXPECT_TRUE(fakes::CodexSandbox::processEnds(pid));
    EXPECT_TRUE(waitUntil([&] { return codexSandbox.temporaryEntries().empty(); }));

    // A new selection while asking ends the question too: its "Enviar" works at once, and only its
    // own answer shows.
    std::filesystem::remove(codexSandbox.file("pids"));
    app.acceptSelection(selection(saveButton, std::vector<std::uint8_t> {1}));
    app.send();
    running = codexSandbox.hangingProcesses();
    app.acceptSelection(selection(saveButton, std::vector<std::uint8_t> {2}));
    EXPECT_FALSE(app.isLoading());
    answerWith("echo 'Nueva' > \"$answer\"");
    app.setDraft("¿Y esto?");
    app.send();
    ASSERT_TRUE(app.isLoading());
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_EQ(app.response(), "Nueva");
    for (const pid_t pid : running) EXPECT_TRUE(fakes::CodexSandbox::processEnds(pid));

    // A failure shows the tool's message; the question and the last answer are gone.
    answerWith("echo 'límite de uso alcanzado' >&2; exit 3");
    app.setDraft("hola");
    app.send();
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_EQ(app.lastError(), "límite de uso alcanzado");
    EXPECT_EQ(app.draft(), "");
    EXPECT_EQ(app.response(), "");
}

TEST_F(ModelTest, DictationFollowsTheSettingAndFillsTheDraft)
{
    AppModel& app = startedModel();
    defaults->setBool(Defaults::voiceEnabled, false);
    app.toggleVoice();
    // Said under the dictation button with its fix, like every dictation failure; not as an answer's error.
    EXPECT_EQ(app.speech()->authorizationMessage(), "Activa Dictado en los ajustes de Zorvane.");
    EXPECT_EQ(app.speech()->remedy(), SpeechInputService::Remedy::enableDictation);
    EXPECT_EQ(app.lastError(), std::nullopt);
    EXPECT_FALSE(app.speech()->isListening());

    defaults->setBool(Defaults::voiceEnabled, true);
    auto recognizer = recognizers->install("es_ES"); // installed while the program runs: no restart needed
    app.toggleVoice();
    ASSERT_TRUE(app.speech()->isListening());
    EXPECT_FALSE(app.speech()->authorizationMessage());
    ASSERT_FALSE(recognizer->tasks.empty());
    recognizer->tasks.back()->reportOnOtherThread(SpeechRecognitionResult {"¿qué es esto?", false}, std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return app.draft() == "¿qué es esto?"; }));
    app.toggleVoice();
    EXPECT_FALSE(app.speech()->isListening());
}

TEST_F(ModelTest, StartBringsEveryServiceUpOnceOnboardingOpensUntilFinishedAndAFailedSetupIsReported)
{
    const auto socket = home / "zorvane/browser-bridge";
    std::filesystem::create_directories(socket); // something else where the bridge's socket goes
    AppModel& app = makeModel();
    app.start();
    EXPECT_EQ(onboarding->showCount, 0) << "shown only after start() has returned";
    waitUntil([&] { return app.codexStatus() != AppModel::checkingCodexStatus; });
    app.start();
    queue->runPending();
    EXPECT_EQ(events->installedMonitorCount(), 2u) << "one global and one local pointer monitor";
    EXPECT_EQ(onboarding->showCount, 1);
    EXPECT_EQ(app.lastError(), "La extensión del navegador no puede conectar con Zorvane: " + socket.string()
                                   + " está ocupado por otro archivo. Zorvane lo volverá a intentar.");
    std::filesystem::remove(socket);
    queue->advance(BrowserBridgeService::listenRetryInterval);
    EXPECT_TRUE(app.browserBridge()->isListening());
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
    ASSERT_TRUE(waitUntil([&] { return !app.permissionState().accessibility; }));
    permissions->grantAccessibilityWhenAsked = true;
    app.requestAccessibility();
    EXPECT_EQ(permissions->accessibilityRequests, 1);
    queue->advance(0.49);
    EXPECT_FALSE(app.permissionState().accessibility);
    queue->advance(0.01);
    EXPECT_TRUE(waitUntil([&] { return app.permissionState().accessibility; }));
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
