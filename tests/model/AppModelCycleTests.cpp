#include "ModelHarness.h"

#include <sodium.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace zorvane::testing {
namespace {

std::string base64(const std::vector<std::uint8_t>& bytes)
{
    std::string out(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::string selectionStartedLine(const UUID& id, const std::string& title)
{
    return "{\"type\":\"selectionStarted\",\"selectionID\":\"" + id.uuidString() + "\",\"title\":\"" + title + "\"}\n";
}

std::string selectionLine(const UUID& id, const std::vector<std::uint8_t>& png)
{
    return "{\"type\":\"selection\",\"selectionID\":\"" + id.uuidString() + "\",\"title\":\"Otro\",\"imageBase64\":\"" +
           base64(png) + "\"}\n";
}

const std::vector<std::uint8_t> cropPNG {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3};

} // namespace

// What a view shows, read from the model when it is told of a change.
struct View {
    bool selecting, preparing, loading;
    std::optional<CapturedContext> context;
    std::string draft, response;
    std::optional<std::string> error;
    friend bool operator==(const View&, const View&) = default;
};

View viewOf(const AppModel& app)
{
    return {app.isSelecting(), app.isPreparingSelectionImage(), app.isLoading(), app.selectedContext(), app.draft(), app.response(),
        app.lastError()};
}

TEST_F(ModelTest, AShakeAClickAndAQuestionEndInARenderedAnswer)
{
    AppModel& app = startedModel();
    // A view that redraws from the model in its observer always shows what the model holds.
    View shown = viewOf(app);
    int redraws = 0;
    app.addChangeObserver([&] {
        shown = viewOf(app);
        ++redraws;
    });
    shake();
    EXPECT_EQ(shown, viewOf(app));
    ASSERT_TRUE(app.isSelecting());
    ASSERT_EQ(panels->onScreen().size(), 1u) << "the overlay did not open";

    clock->advance(0.1);
    events->setPointerLocation({150, 115});
    panels->move({150, 115});
    panels->click({150, 115});
    EXPECT_FALSE(app.isSelecting());
    EXPECT_TRUE(panels->onScreen().empty());
    ASSERT_TRUE(app.selectedContext());
    EXPECT_EQ(app.selectedContext()->title, "Guardar");
    ASSERT_EQ(chatPanel->shownNear.size(), 1u);
    EXPECT_EQ(chatPanel->shownNear.back(), saveButton);
    EXPECT_EQ(shown, viewOf(app));

    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(shown, viewOf(app));
    ASSERT_TRUE(app.selectedContext() && app.selectedContext()->imageData);
    ASSERT_EQ(windowImages->requests().size(), 1u);
    EXPECT_EQ(windowImages->requests()[0].belowWindow, 77u) << "the panel must be left out of the picture";

    app.setDraft("  ¿Para qué sirve?\n");
    EXPECT_EQ(shown.draft, "  ¿Para qué sirve?\n");
    const int redrawsBefore = redraws;
    app.setDraft("  ¿Para qué sirve?\n");
    EXPECT_EQ(redraws, redrawsBefore) << "nothing changed";
    app.send();
    EXPECT_TRUE(app.isLoading());
    EXPECT_EQ(shown, viewOf(app)) << "the spinner must show";
    EXPECT_EQ(app.draft(), "");
    EXPECT_EQ(chatPanel->expandCount, 1);
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_EQ(app.lastError(), std::nullopt);
    EXPECT_EQ(app.response(), "**Es** un botón.");
    EXPECT_EQ(shown, viewOf(app)) << "the spinner must stop";
    EXPECT_EQ(codexSandbox.read(codexSandbox.file("image")),
              std::string(app.selectedContext()->imageData->begin(), app.selectedContext()->imageData->end()));
    EXPECT_NE(codexSandbox.read(codexSandbox.file("prompt")).find("Pregunta del usuario:\n¿Para qué sirve?"), std::string::npos);
    EXPECT_TRUE(codexSandbox.temporaryEntries().empty());
}

TEST_F(ModelTest, ABrowserInFrontSelectsInThePageAndItsCropFillsThePlaceholder)
{
    AppModel& app = startedModel();
    workspace->frontmost = "com.google.Chrome";
    auto host = connectHost();
    events->setPointerLocation({700, 400});
    chatPanel->isVisible = true;

    app.handleActivationGesture();
    EXPECT_EQ(host.receiveLine(), std::string(BridgeProtocol::activateLine));
    EXPECT_TRUE(app.isSelecting());
    EXPECT_TRUE(panels->shown().empty()) << "no overlay while the page selects";
    EXPECT_FALSE(chatPanel->isVisible);

    const UUID id;
    host.send(selectionStartedLine(id, "Precio del producto"));
    ASSERT_TRUE(waitUntil([&] { return app.selectedContext().has_value(); }));
    EXPECT_FALSE(app.isSelecting());
    EXPECT_TRUE(app.isPreparingSelectionImage());
    EXPECT_EQ(app.selectedContext()->appName, "Navegador");
    EXPECT_EQ(app.selectedContext()->role, "Elemento web");
    EXPECT_EQ(app.selectedContext()->title, "Precio del producto");
    EXPECT_EQ(chatPanel->shownNear.back(), Rect(698, 398, 4, 4));

    // A stale crop first, then the right one; a repeat of it changes nothing.
    host.send(selectionLine(UUID(), {9, 9, 9}));
    host.send(selectionLine(id, cropPNG));
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(app.selectedContext()->imageData, cropPNG);
    EXPECT_EQ(app.selectedContext()->title, "Precio del producto");

    app.send();
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_NE(codexSandbox.read(codexSandbox.file("prompt")).find(AppModel::defaultQuestion), std::string::npos);
    EXPECT_EQ(codexSandbox.read(codexSandbox.file("image")), std::string(cropPNG.begin(), cropPNG.end()));
}

TEST_F(ModelTest, ACancelledBrowserSelectionKeepsThePlaceholderAndAsksWithoutAnImage)
{
    AppModel& app = startedModel();
    auto host = connectHost();
    const UUID id;
    host.send(selectionStartedLine(id, "Tabla"));
    ASSERT_TRUE(waitUntil([&] { return app.isPreparingSelectionImage(); }));
    EXPECT_EQ(chatPanel->shownNear.size(), 1u) << "a selection started from the page opens the panel too";

    host.send("{\"type\":\"cancel\"}\n");
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    ASSERT_TRUE(app.selectedContext());
    EXPECT_FALSE(app.selectedContext()->imageData);

    host.send(selectionLine(id, cropPNG)); // too late
    app.setDraft("¿Qué muestra?");
    app.send();
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_EQ(app.response(), "**Es** un botón.");
    EXPECT_FALSE(app.selectedContext()->imageData);
    const auto args = codexSandbox.lines(codexSandbox.file("args"));
    for (const auto& arg : args) EXPECT_EQ(arg.rfind("--image", 0), std::string::npos) << arg;
    EXPECT_EQ(codexSandbox.read(codexSandbox.file("prompt")).find("La imagen adjunta"), std::string::npos);
}

TEST_F(ModelTest, ASupportedBrowserWithoutAHostFallsBackToTheOverlay)
{
    AppModel& app = startedModel();
    workspace->frontmost = "org.chromium.Chromium";
    app.handleActivationGesture();
    EXPECT_TRUE(app.isSelecting());
    EXPECT_EQ(panels->onScreen().size(), 1u);

    // Cancelling the overlay sends nothing to any browser.
    auto host = connectHost();
    app.cancelSelection();
    EXPECT_FALSE(app.isSelecting());
    EXPECT_TRUE(panels->onScreen().empty());
    EXPECT_EQ(host.receiveLine(std::chrono::milliseconds(200)), std::nullopt);
}

TEST_F(ModelTest, LateCapturesAreDroppedWithoutAMessage)
{
    AppModel& app = startedModel();
    CapturedContext first;
    first.screenRect = saveButton;

    // Closed before the image arrived.
    app.acceptSelection(first);
    app.closeComposer();
    ASSERT_TRUE(queue->waitForTask());
    queue->runPending();
    EXPECT_FALSE(app.selectedContext());
    EXPECT_FALSE(app.isPreparingSelectionImage());

    // A failing capture overtaken by a newer selection shows no message.
    windowImages->setImage(std::nullopt);
    app.acceptSelection(first);
    ASSERT_TRUE(queue->waitForTask());
    windowImages->setImage(fakes::FakeWindowImages::makeImage(saveButton, 2, [](std::uint32_t, std::uint32_t) { return 7u; }));
    CapturedContext second;
    second.screenRect = saveButton;
    app.acceptSelection(second);
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(app.lastError(), std::nullopt);
    ASSERT_TRUE(app.selectedContext());
    EXPECT_EQ(app.selectedContext()->id, second.id);
    EXPECT_TRUE(app.selectedContext()->imageData);
}

TEST_F(ModelTest, TheCaptureWaitsForTheOverlayToGoAndThePanelToComeButNotForEver)
{
    AppModel& app = startedModel();
    panels->unmapLate = true; // the window system takes its time to unmap the veil
    app.activateSelection();
    panels->click({150, 115});
    ASSERT_TRUE(app.isPreparingSelectionImage());
    queue->advance(0.1);
    EXPECT_TRUE(windowImages->requests().empty()) << "the veil would be in the picture";
    panels->finishUnmapping();
    queue->advance(AppModel::panelSettlePollInterval);
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(windowImages->requests().size(), 1u);

    // A panel that never reaches the screen holds the capture back only for a moment.
    chatPanel->mapsWhenShown = false;
    CapturedContext context;
    context.screenRect = saveButton;
    app.acceptSelection(context);
    queue->advance(AppModel::panelSettleLimit - 0.05);
    EXPECT_EQ(windowImages->requests().size(), 1u);
    queue->advance(0.06);
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_EQ(windowImages->requests().size(), 2u);
    EXPECT_TRUE(app.selectedContext() && app.selectedContext()->imageData);
}

TEST_F(ModelTest, AQuestionThatNeverEndsIsEndedAndQuittingEndsTheOneRunning)
{
    queryTimeLimit = 0.5;
    AppModel& app = startedModel();
    answerWith(codexSandbox.hangingExecBody());
    CapturedContext context;
    context.imageData = std::vector<std::uint8_t> {1, 2};
    app.acceptSelection(context);
    app.send();
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_EQ(app.lastError(), "Codex no respondió en 10 minutos.");
    for (const pid_t pid : codexSandbox.hangingProcesses()) EXPECT_TRUE(fakes::CodexSandbox::processEnds(pid));
    EXPECT_TRUE(codexSandbox.temporaryEntries().empty());

    // Quitting in the middle of a question: its tool ends, its files go, nothing comes after.
    model.reset();
    std::filesystem::remove(codexSandbox.file("pids"));
    queryTimeLimit.reset();
    AppModel& again = startedModel();
    again.acceptSelection(context);
    again.send();
    const auto running = codexSandbox.hangingProcesses();
    ASSERT_EQ(running.size(), 2u);
    model.reset();
    for (const pid_t pid : running) EXPECT_TRUE(fakes::CodexSandbox::processEnds(pid));
    EXPECT_TRUE(codexSandbox.temporaryEntries().empty());
    const std::size_t pending = queue->pendingCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(queue->pendingCount(), pending);
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
    queue->runPending();
    EXPECT_FALSE(app.permissionState().accessibility);

    permissions->accessibility = true;
    app.activateSelection();
    EXPECT_EQ(app.lastError(), std::nullopt) << "starting a selection clears the message";
    app.activateSelection(); // already selecting: nothing changes
    EXPECT_EQ(panels->shown().size(), 1u);
    app.cancelSelection();

    permissions->screenRecording = false;
    CapturedContext context;
    context.screenRect = saveButton;
    app.acceptSelection(context);
    EXPECT_FALSE(app.selectedContext());
    EXPECT_EQ(app.lastError(), "Activa Grabación de pantalla desde Ajustes: Zorvane envía siempre una imagen de la selección.");
    EXPECT_TRUE(windowImages->requests().empty());

    permissions->screenRecording = true;
    windowImages->setImage(std::nullopt);
    app.acceptSelection(context);
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));
    EXPECT_FALSE(app.selectedContext());
    EXPECT_EQ(app.lastError(), ScreenCaptureService::CaptureError(ScreenCaptureService::CaptureError::Code::captureFailed).localizedDescription());

    // An image that came with the selection is not captured again.
    const auto requests = windowImages->requests().size();
    context.imageData = std::vector<std::uint8_t> {1};
    app.acceptSelection(context);
    EXPECT_FALSE(app.isPreparingSelectionImage());
    queue->runPending();
    EXPECT_EQ(windowImages->requests().size(), requests);
}

TEST_F(ModelTest, SendingOnlyWhenThereIsSomethingToAskAndNothingPendingAndAFailureIsShown)
{
    AppModel& app = startedModel();
    app.setDraft(" \n\t ");
    app.send();
    EXPECT_FALSE(app.isLoading()) << "blank draft and no selection";

    CapturedContext context;
    context.screenRect = saveButton;
    app.acceptSelection(context);
    ASSERT_TRUE(app.isPreparingSelectionImage());
    app.setDraft("hola");
    app.send();
    EXPECT_FALSE(app.isLoading()) << "the image is still being captured";
    EXPECT_EQ(app.draft(), "hola");
    ASSERT_TRUE(waitUntil([&] { return !app.isPreparingSelectionImage(); }));

    // A slow answer: a second send does nothing, closing keeps it coming.
    const std::string go = (codexSandbox.base() / "go").string();
    answerWith("while [ ! -f '" + go + "' ]; do sleep 0.01; done; echo 'Tarde' > \"$answer\"");
    app.send();
    ASSERT_TRUE(app.isLoading());
    app.setDraft("otra");
    app.send();
    EXPECT_EQ(app.draft(), "otra");
    app.closeComposer();
    EXPECT_TRUE(app.isLoading());
    std::ofstream(go) << "";
    ASSERT_TRUE(waitUntil([&] { return !app.isLoading(); }));
    EXPECT_EQ(app.response(), "Tarde");

    // A failure shows the tool's message, and the question and the last answer are gone.
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
    EXPECT_EQ(app.lastError(), "Activa Dictado en los ajustes de Zorvane.");
    EXPECT_FALSE(app.speech()->isListening());

    defaults->setBool(Defaults::voiceEnabled, true);
    auto recognizer = recognizers->install("es_ES");
    model.reset(); // the recogniser is chosen when the service is made
    AppModel& again = startedModel();
    again.toggleVoice();
    ASSERT_TRUE(again.speech()->isListening());
    ASSERT_FALSE(recognizer->tasks().empty());
    recognizer->tasks().back()->reportOnOtherThread(SpeechRecognitionResult {"¿qué es esto?", false}, std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return again.draft() == "¿qué es esto?"; }));
    again.toggleVoice();
    EXPECT_FALSE(again.speech()->isListening());
}

} // namespace zorvane::testing
