#include "UiHarness.h"

#include "app/core/SystemClock.h"
#include "app/platform/linux/LinuxPermissions.h"
#include "app/platform/linux/audio/MicrophoneAccess.h"
#include "app/platform/linux/audio/PulseAudioInput.h"
#include "app/platform/linux/speech/LinuxSpeechModels.h"
#include "app/system/SystemPrivacySettings.h"
#include "app/ui/ComposerView.h"
#include "app/ui/RichText.h"
#include "app/ui/settings/SettingsView.h"
#include "tests/support/HttpServer.h"
#include "tests/support/SoundServer.h"

#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextTable>
#include <QToolButton>

namespace zorvane::testing {

namespace {

const char* realAnswer = R"(## Botón «Guardar»

Guarda la nota **sin cerrar** la ventana. Atajos:

- `Ctrl+S` guarda
- *Mayús* + `Ctrl+S` guarda como
- Ver [la ayuda](https://example.org/ayuda)

```sh
notas --guardar "lista.txt"
```

| Acción | Atajo |
|:--|--:|
| Guardar | Ctrl+S |
| Cerrar | Ctrl+W |
)";

class ComposerTest : public UiTest {
protected:
    QWidget* panel() { return chatPanel->window(); }
    QPushButton* sendButton() { return find<QPushButton>(panel(), "sendButton"); }
    bool showing(const char* name) { return shown(find<QWidget>(panel(), name)); }
    void type(const char* text)
    {
        auto* prompt = find<ui::PromptField>(panel(), "promptField");
        prompt->setPlainText(QString::fromUtf8(text));
        prompt->moveCursor(QTextCursor::End);
        QApplication::processEvents();
    }
};

// The whole cycle as the panel shows it: beside a selection by the right monitor's edge, preparing the
// picture, typing, thinking over an older answer in the grown panel, the answer as rich text,
// copying it, a failure, an error that must not hide an answer, and compact again, above, for the
// next selection near the bottom.
TEST_F(ComposerTest, ShowsEachStateOfAQuestionBesideTheSelectionAndCopiesTheRawAnswer)
{
    windowImages->setImage(fakes::FakeWindowImages::makeImage(Rect(0, 0, 30, 20), 1, [](std::uint32_t x, std::uint32_t) { return 0xff2050a0u + x; }));
    windowImages->hold(true);
    AppModel& m = startedModel();
    m.acceptSelection(selection(Rect(2840, 400, 30, 20)));
    ASSERT_TRUE(waitFor([&] { return showing("thumbnailSpinner"); }));
    EXPECT_EQ(panel()->windowTitle(), QStringLiteral("Zorvane"));
    EXPECT_EQ(panel()->geometry(), QRect(2880 - 12 - 500, 400 + 20 + 18, 500, 220)) << "on the selection's monitor, 12 points inside";
    EXPECT_GE(m.composerFocusRequest(), 1);
    type("¿Qué hace?");
    EXPECT_FALSE(sendButton()->isEnabled()) << "no sending while the picture is taken";
    EXPECT_EQ(find<QLabel>(panel(), "contextTitle")->text() + " | " + find<QLabel>(panel(), "contextCaption")->text(),
        QStringLiteral("Guardar | Notas · botón"));
    keepScreenshot(panel(), "panel-preparing");

    windowImages->hold(false);
    ASSERT_TRUE(waitFor([&] { return !m.isPreparingSelectionImage() && sendButton()->isEnabled(); }));
    EXPECT_FALSE(showing("thumbnailSpinner"));
    EXPECT_FALSE(find<QLabel>(panel(), "thumbnail")->pixmap().isNull());
    type("  \n ");
    EXPECT_TRUE(sendButton()->isEnabled()) << "with a selection an empty question asks the default one";
    keepScreenshot(panel(), "panel-compact");

    setAnswer(realAnswer);
    QTest::mouseClick(sendButton(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return showing("loadingRow"); }));
    EXPECT_FALSE(sendButton()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return panel()->size() == QSize(640, 560); }, 3));
    EXPECT_EQ(panel()->geometry(), QRect(2880 - 12 - 640, 900 - 12 - 560, 640, 560)) << "grown from its top edge, kept inside";
    keepScreenshot(panel(), "panel-loading");
    openGate();
    ASSERT_TRUE(waitFor([&] { return showing("responseBox"); }));
    EXPECT_FALSE(showing("loadingRow"));
    EXPECT_FALSE(showing("errorLabel"));
    keepScreenshot(panel(), "panel-answer");
    QGuiApplication::clipboard()->setText(QStringLiteral("antes"));
    QTest::mouseClick(find<QToolButton>(panel(), "copyButton"), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), m.response());
    EXPECT_NE(QGuiApplication::clipboard()->text().indexOf(QStringLiteral("**sin cerrar**")), -1);

    // A failure shows codex's message in orange instead of the older answer.
    std::filesystem::remove(gate());
    answerWith("echo 'fallo de red' >&2; exit 3");
    type("¿Y otra cosa?");
    m.send();
    ASSERT_TRUE(waitFor([&] { return showing("errorLabel"); }));
    EXPECT_FALSE(showing("responseBox"));
    auto* error = find<QLabel>(panel(), "errorLabel");
    EXPECT_EQ(error->text().toStdString(), "fallo de red");
    EXPECT_EQ(error->palette().color(QPalette::WindowText), ui::Theme::shared().colors().orange);
    keepScreenshot(panel(), "panel-error");

    // An error that comes after an answer does not hide it.
    setAnswer("Listo.");
    answerWith("cat '" + answerFile().string() + "' > \"$answer\"");
    m.send();
    ASSERT_TRUE(waitFor([&] { return showing("responseBox"); }));
    permissions->accessibility = false;
    m.activateSelection();
    ASSERT_TRUE(m.lastError().has_value());
    QApplication::processEvents();
    EXPECT_TRUE(showing("responseBox"));
    EXPECT_FALSE(showing("errorLabel"));

    m.acceptSelection(selection(Rect(300, 860, 100, 30)));
    QApplication::processEvents();
    EXPECT_EQ(panel()->geometry(), QRect(300 + 50 - 250, 860 - 18 - 220, 500, 220));
    m.closeComposer();
    QApplication::processEvents();
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_FALSE(chatPanel->isOnScreen());
}


// Dictation through the desktop's own sound and speech adapters (a private sound server, models from
// a loopback server, Vosk's stand-in): each failure said under the input row with its fix until the
// next press, the model downloaded from there, then the spoken words filling the question.
class DictationTest : public ComposerTest {
protected:
    void adjust(AppPlatform& platform) override
    {
        using namespace linux_platform;
        SpeechRecognizerPlaces places;
        places.modelsFolder = home / "speech";
        places.voskLibrary = FAKE_VOSK_LIBRARY;
        places.downloadable = {"es"};
        auto speech = std::make_shared<LinuxSpeechRecognizers>(places, nullptr, "es_ES");
        PermissionHalves halves;
        halves.isAccessibilityEnabled = halves.isScreenCaptureGranted = [] { return true; };
        halves.microphoneStatus = [input = input] { return MicrophoneAccess::status(*input); };
        halves.speechRecognitionStatus = [speech] { return speech->authorizationStatus(); };
        platform.permissions = std::make_shared<LinuxPermissions>(halves);
        platform.clock = std::make_shared<SystemClock>(); // silence is measured on Qt's real-time loop
        platform.audioInput = input;
        platform.speechRecognizers = speech;
        platform.speechModels = LinuxSpeechModels::create({.modelsFolder = places.modelsFolder, .language = "es",
            .catalog = {offered}, .recognizers = speech, .mainQueue = queue, .allowPlainHttpToLoopback = true});
    }

    std::optional<SoundServer> world {std::in_place, SoundServerOptions {.running = false}}; // before any audio object
    std::shared_ptr<linux_platform::PulseAudioInput> input = std::make_shared<linux_platform::PulseAudioInput>();
    HttpServer server;
    linux_platform::SpeechModelEntry offered;
};

TEST_F(DictationTest, EachFailureIsSaidUnderTheInputWithItsFixAndThenTheWordsFillTheQuestion)
{
    const std::filesystem::path zip = world->directory() / "model.zip";
    world->run({"python3", "-c",
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    for path, data in [('am/final.mdl', b'\\0B<TransitionModel> ' + bytes(3000000)), ('graph/HCLG.fst', b'\\xd6\\xfd\\xb2\\x7e'),\n"
        "            ('conf/mfcc.conf', b''), ('conf/model.conf', b'')]:\n"
        "        z.writestr('vosk-model-small-es-0.42/' + path, data)\n", zip.string()});
    server.put("/model.zip", fakes::readFile(zip));
    offered = {"es", "vosk-model-small-es-0.42", server.url("/model.zip"), std::filesystem::file_size(zip), "", "", {"am/final.mdl"}};
    defaults->setBool(Defaults::voiceEnabled, false);
    AppModel& m = startedModel();
    m.acceptSelection(selection(Rect(2840, 400, 30, 20)));
    ASSERT_TRUE(waitFor([&] { return showing("promptField"); }));
    auto* dictate = find<QToolButton>(panel(), "dictationButton");
    auto* line = find<QLabel>(panel(), "dictationMessage");
    const auto says = [&](const char* text, const char* fix) {
        return waitFor([&] { return showing("dictationMessageLine") && line->text().contains(QString::fromUtf8(text)) && line->text().contains(QString::fromUtf8(fix)); });
    };
    const auto cardUnscrolled = [&] { // a second line or the bar under the input must not squeeze the card above into a scroll
        return waitFor([&] { return !find<QScrollArea>(panel(), "scrollArea")->verticalScrollBar()->isVisible(); }, 2);
    };
    const auto fix = [&] { // from the keyboard, as Return must not send the question instead
        panel()->activateWindow();
        line->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(waitFor([&] { return !line->selectedText().isEmpty(); })) << "the keyboard is not on the link";
        QTest::keyClick(line, Qt::Key_Return);
    };

    // Switched off: the fix switches dictation on and dictates, which needs the Spanish model.
    dictate->click();
    ASSERT_TRUE(says("Activa Dictado en los ajustes de Zorvane.", "Activar el dictado")) << line->text().toStdString();
    keepScreenshot(panel(), "dictation-switched-off");
    fix();
    ASSERT_TRUE(says("Para dictar en español hace falta un modelo de voz.", "Descargar el modelo de voz en español (3 MB)"));
    EXPECT_TRUE(cardUnscrolled());
    QAccessibleInterface* link = QAccessible::queryAccessibleInterface(line); // what a screen reader reads of it
    EXPECT_EQ(link->role(), QAccessible::Link);
    EXPECT_EQ(link->text(QAccessible::Name).toStdString(), "Descargar el modelo de voz en español (3 MB)");
    keepScreenshot(panel(), "dictation-no-model");

    // Downloaded from the line, its progress there and in the Voz tab, then ready.
    server.hold(offered.bytes / 3);
    fix();
    ASSERT_TRUE(says("Descargando el modelo de voz en español: 1,0 MB de 3,0 MB (33 %)", "Cancelar")) << line->text().toStdString();
    EXPECT_TRUE(cardUnscrolled());
    const auto* percent = QAccessible::queryAccessibleInterface(find(panel(), "downloadProgress"))->valueInterface();
    EXPECT_TRUE(percent && percent->currentValue().toInt() == 33) << "the bar's percent, as a screen reader reads it";
    keepScreenshot(panel(), "dictation-downloading");
    ui::SettingsWindowController settings(onboarding);
    settings.show(m, 2);
    find<QScrollArea>(settings.window(), "voiceTab")->ensureWidgetVisible(find(settings.window(), "speechModelSection"));
    EXPECT_EQ(find<QLabel>(settings.window(), "speechModelDetail")->text(), QStringLiteral("Descargando: 1,0 MB de 3,0 MB (33 %)"));
    keepScreenshot(settings.window(), "voice-tab-downloading");
    server.release();
    ASSERT_TRUE(says("El modelo de voz en español está listo: pulsa el micrófono para dictar.", ""));
    EXPECT_TRUE(waitFor([&] { return panel()->height() == 220; }, 2)) << "the room made for the bar is given back";
    keepScreenshot(panel(), "dictation-model-ready");

    // No sound server, then one without a microphone; the fix is the sound settings.
    dictate->click();
    ASSERT_TRUE(says("No hay un servidor de sonido disponible.", "Abrir los ajustes de sonido")) << line->text().toStdString();
    keepScreenshot(panel(), "dictation-no-sound-server");
    fix();
    EXPECT_EQ(workspace->openedURLs, std::vector {SystemPrivacySettings::url(SystemPrivacySettings::Pane::microphone)});
    world.reset();
    world.emplace(SoundServerOptions {.microphone = false});
    dictate->click();
    ASSERT_TRUE(says("No hay un micrófono disponible.", "Abrir los ajustes de sonido")) << line->text().toStdString();
    keepScreenshot(panel(), "dictation-no-microphone");

    // With a microphone the line goes, and the words fill the question as they are said.
    world.reset();
    world.emplace();
    const std::filesystem::path wav = testing::speak(*world, "es", "Explica esta imagen, por favor.", 0.5, 1.5);
    dictate->click();
    ASSERT_TRUE(m.speech()->isListening()) << m.speech()->authorizationMessage().value_or("");
    EXPECT_TRUE(waitFor([&] { return !showing("dictationMessageLine"); }));
    bool heardWhileSpeaking = false;
    const auto token = m.addChangeObserver([&] { heardWhileSpeaking = heardWhileSpeaking || (m.speech()->isListening() && !m.draft().empty()); });
    ASSERT_TRUE(world->waitForCapture());
    world->waitFor(world->startPlaying(wav));
    EXPECT_TRUE(waitFor([&] { return !m.speech()->isListening(); }, 15));
    m.removeChangeObserver(token);
    EXPECT_TRUE(heardWhileSpeaking);
    EXPECT_TRUE(find<ui::PromptField>(panel(), "promptField")->toPlainText().startsWith(QStringLiteral("explica esta")));
}

TEST_F(ComposerTest, WithoutASelectionSendingNeedsAQuestionAndReturnSendsFromAnywhere)
{
    AppModel& m = startedModel();
    m.acceptSelection(selection(Rect(100, 100, 80, 30), std::vector<std::uint8_t> {1}));
    ASSERT_TRUE(waitFor([&] { return panel() && panel()->isVisible(); }));
    m.closeComposer();
    QApplication::processEvents();
    for (const auto& [draft, enabled] : {std::pair {"", false}, {"   \n\t ", false}, {"hola", true}, {"  ¿y esto?\n", true}}) {
        type(draft);
        EXPECT_EQ(sendButton()->isEnabled(), enabled) << '"' << draft << '"';
    }
    m.acceptSelection(selection(Rect(100, 100, 80, 30), std::vector<std::uint8_t> {1}));
    ASSERT_TRUE(waitFor([&] { return panel()->isActiveWindow(); }));
    type("primera");
    auto* prompt = find<ui::PromptField>(panel(), "promptField");
    QTest::keyClick(prompt, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(m.draft(), "primera\n") << "Shift+Return only breaks the line";
    EXPECT_FALSE(m.isLoading());
    // Return sends from anywhere in the panel, here the dictation button.
    auto* dictation = find<QToolButton>(panel(), "dictationButton");
    dictation->setFocus(Qt::TabFocusReason);
    QTest::keyClick(dictation, Qt::Key_Return);
    EXPECT_TRUE(m.isLoading());
    openGate();
    ASSERT_TRUE(waitFor([&] { return !m.isLoading(); }));

    // The toolkit's own texts are Spanish: the question field's context menu.
    std::unique_ptr<QMenu> menu(prompt->createStandardContextMenu());
    QString items;
    for (QAction* action : menu->actions()) items += action->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0) + "|";
    EXPECT_EQ(items, QStringLiteral("Deshacer|Rehacer||Cortar|Copiar|Pegar|Borrar||Seleccionar todo|"));
}

// A real answer keeps its structure in the right fonts, and only web links are handed on.
TEST(RichTextTest, RendersARealAnswerWithItsStructureAndOpensOnlyWebLinks)
{
    application();
    std::unique_ptr<QTextBrowser> view(ui::RichText::makeView(nullptr));
    ui::RichText::setMarkdown(*view, realAnswer);
    QTextDocument& doc = *view->document();
    const QString plain = doc.toPlainText();
    const auto formatAt = [&](const char* text) {
        QTextCursor cursor(&doc);
        cursor.setPosition(plain.indexOf(QString::fromUtf8(text)) + 1);
        return cursor.charFormat();
    };
    EXPECT_GT(formatAt("Botón").font().pixelSize(), formatAt("Guarda la").font().pixelSize()) << "the heading";
    EXPECT_EQ(formatAt("sin cerrar").fontWeight(), QFont::Bold);
    EXPECT_TRUE(formatAt("Mayús").fontItalic());
    EXPECT_TRUE(QFontInfo(formatAt("notas --guardar").font()).fixedPitch() && !QFontInfo(formatAt("guarda como").font()).fixedPitch());
    EXPECT_EQ(formatAt("la ayuda").anchorHref(), QStringLiteral("https://example.org/ayuda"));
    const QTextBlock item = doc.findBlock(plain.indexOf(QStringLiteral("guarda como")));
    EXPECT_TRUE(item.text().startsWith(QStringLiteral("•\u2002"))) << "the bullet half an em before the text";
    EXPECT_LT(item.blockFormat().textIndent(), 0) << "hanging, so wrapped lines align with the text";
    QTextTable* table = nullptr;
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) table = table ? table : qobject_cast<QTextTable*>(frame);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->cellAt(2, 0).firstCursorPosition().block().text(), QStringLiteral("Cerrar"));
    EXPECT_EQ(table->cellAt(1, 1).firstCursorPosition().block().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);

    for (const auto& [link, opens] : {std::pair {"https://example.org/a", true}, {"http://localhost:8080/", true},
             {"mailto:ana@example.org", true}, {"javascript:alert(1)", false}, {"file:///etc/passwd", false}, {"ayuda.html", false},
             {"https://", false}})
        EXPECT_EQ(ui::RichText::isOpenableLink(QString::fromLatin1(link)), opens) << link;
}

} // namespace
} // namespace zorvane::testing
