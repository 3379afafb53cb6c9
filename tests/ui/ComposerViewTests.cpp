#include "UiHarness.h"

#include "app/ui/ComposerView.h"
#include "app/ui/RichText.h"

#include <QBuffer>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextList>
#include <QTextTable>
#include <QToolButton>

namespace zorvane::testing {

std::vector<std::uint8_t> UiTest::pngOf(const Rect& rect)
{
    QImage image(static_cast<int>(rect.width()), static_cast<int>(rect.height()), QImage::Format_RGB32);
    image.fill(QColor(0x2f, 0x6f, 0xd8));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

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
    ui::PromptField* prompt() { return find<ui::PromptField>(panel(), "promptField"); }
    bool showing(const char* name) { return shown(find<QWidget>(panel(), name)); }
    void type(const QString& text)
    {
        prompt()->setPlainText(text);
        prompt()->moveCursor(QTextCursor::End);
        QApplication::processEvents();
    }
};

// The whole cycle as the composer shows it: preparing the image, typing, thinking over an older
// answer, the answer as rich text, copying it, a failure, and an error that must not hide an answer.
TEST_F(ComposerTest, ShowsEachStateOfAQuestionAndCopiesTheRawAnswer)
{
    const Rect button(1700, 300, 120, 40);
    windowImages->setImage(fakes::FakeWindowImages::makeImage(button, 1, [](std::uint32_t x, std::uint32_t) { return 0xff2050a0u + x; }));
    windowImages->holdCaptures(true);
    AppModel& m = startedModel();
    m.acceptSelection(selection(button));

    // Preparing the image: a spinner in the thumbnail, and no sending even with a question.
    ASSERT_TRUE(waitFor([&] { return showing("thumbnailSpinner"); }));
    type(QStringLiteral("¿Qué hace?"));
    EXPECT_FALSE(sendButton()->isEnabled());
    EXPECT_EQ(find<QLabel>(panel(), "contextTitle")->text(), QStringLiteral("Guardar"));
    EXPECT_EQ(find<QLabel>(panel(), "contextCaption")->text(), QStringLiteral("Notas · botón"));
    keepScreenshot(panel(), "panel-preparing");

    windowImages->holdCaptures(false);
    ASSERT_TRUE(waitFor([&] { return !m.isPreparingSelectionImage() && sendButton()->isEnabled(); }));
    EXPECT_FALSE(showing("thumbnailSpinner"));
    EXPECT_FALSE(find<QLabel>(panel(), "thumbnail")->pixmap().isNull());

    // With a selection an empty question may be sent (the default question is asked).
    type(QStringLiteral("  \n "));
    EXPECT_TRUE(sendButton()->isEnabled());
    keepScreenshot(panel(), "panel-compact");

    setAnswer(realAnswer);
    QTest::mouseClick(sendButton(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return showing("loadingRow"); }));
    EXPECT_FALSE(sendButton()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return panel()->size() == QSize(640, 560); }, 3));
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

    // While the next question runs only the progress shows, though an answer is still there.
    std::filesystem::remove(gate());
    answerWith("echo 'fallo de red' >&2; exit 3");
    type(QStringLiteral("¿Y otra cosa?"));
    m.send();
    ASSERT_TRUE(waitFor([&] { return !m.isLoading() && m.lastError().has_value(); }));
    ASSERT_TRUE(waitFor([&] { return showing("errorLabel"); }));
    EXPECT_FALSE(showing("responseBox"));
    auto* error = find<QLabel>(panel(), "errorLabel");
    EXPECT_EQ(error->text().toStdString(), *m.lastError());
    EXPECT_EQ(error->palette().color(QPalette::WindowText), ui::Theme::shared().colors().orange);
    keepScreenshot(panel(), "panel-error");

    // A new answer hides any error that comes after it.
    setAnswer("Listo.");
    openGate();
    answerWith("cat '" + answerFile().string() + "' > \"$answer\"");
    type(QStringLiteral("¿Seguro?"));
    m.send();
    ASSERT_TRUE(waitFor([&] { return showing("responseBox"); }));
    permissions->accessibility = false;
    m.activateSelection(); // fails: sets the Accessibility error while the answer stays
    ASSERT_TRUE(m.lastError().has_value());
    QApplication::processEvents();
    EXPECT_TRUE(showing("responseBox"));
    EXPECT_FALSE(showing("errorLabel"));
}

TEST_F(ComposerTest, SendNeedsAQuestionOrASelectionAndNothingRunning)
{
    AppModel& m = startedModel();
    m.acceptSelection(selection(Rect(100, 100, 80, 30), true));
    ASSERT_TRUE(waitFor([&] { return panel() && panel()->isVisible(); }));
    m.closeComposer();
    QApplication::processEvents();

    const struct {
        const char* draft;
        bool enabled;
    } cases[] = {{"", false}, {"   \n\t ", false}, {"hola", true}, {"  ¿y esto?\n", true}};
    for (const auto& c : cases) {
        type(QString::fromUtf8(c.draft));
        EXPECT_EQ(sendButton()->isEnabled(), c.enabled) << '"' << c.draft << '"';
    }
    // Return sends; Shift+Return only breaks the line.
    type(QStringLiteral("primera"));
    QTest::keyClick(prompt(), Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(m.draft(), "primera\n");
    EXPECT_FALSE(m.isLoading());
    QTest::keyClick(prompt(), Qt::Key_Return);
    EXPECT_TRUE(m.isLoading());
    QApplication::processEvents();
    EXPECT_FALSE(sendButton()->isEnabled());
    openGate();
    ASSERT_TRUE(waitFor([&] { return !m.isLoading(); }));
}

// A real answer keeps its structure: heading, strong text, a list, a code block and a table, in
// the right fonts, and only web links are handed to the browser.
TEST(RichTextTest, RendersARealAnswerWithItsStructure)
{
    application();
    QTextBrowser* view = ui::RichText::makeView(nullptr);
    ui::RichText::setMarkdown(*view, realAnswer);
    QTextDocument& doc = *view->document();
    const QString plain = doc.toPlainText();

    auto formatAt = [&](const QString& text) {
        const int at = plain.indexOf(text);
        EXPECT_GE(at, 0) << text.toStdString();
        QTextCursor cursor(&doc);
        cursor.setPosition(at + 1);
        return cursor.charFormat();
    };
    auto blockOf = [&](const QString& text) { return doc.findBlock(plain.indexOf(text)); };

    EXPECT_EQ(blockOf(QStringLiteral("Botón")).blockFormat().headingLevel(), 2);
    EXPECT_GT(formatAt(QStringLiteral("Botón")).font().pixelSize(), formatAt(QStringLiteral("Guarda la")).font().pixelSize());
    EXPECT_EQ(formatAt(QStringLiteral("sin cerrar")).fontWeight(), QFont::Bold);
    EXPECT_NE(formatAt(QStringLiteral("Guarda la")).fontWeight(), QFont::Bold);
    EXPECT_TRUE(formatAt(QStringLiteral("Mayús")).fontItalic());
    EXPECT_TRUE(QFontInfo(formatAt(QStringLiteral("Ctrl+S guarda")).font()).fixedPitch());
    EXPECT_TRUE(QFontInfo(formatAt(QStringLiteral("notas --guardar")).font()).fixedPitch());
    EXPECT_FALSE(QFontInfo(formatAt(QStringLiteral("guarda como")).font()).fixedPitch());
    EXPECT_EQ(formatAt(QStringLiteral("la ayuda")).anchorHref(), QStringLiteral("https://example.org/ayuda"));

    QTextList* list = blockOf(QStringLiteral("guarda como")).textList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 3);

    QTextTable* table = nullptr;
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) table = table ? table : qobject_cast<QTextTable*>(frame);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 3);
    EXPECT_EQ(table->columns(), 2);
    EXPECT_EQ(table->cellAt(2, 0).firstCursorPosition().block().text(), QStringLiteral("Cerrar"));
    EXPECT_EQ(table->cellAt(1, 1).firstCursorPosition().block().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(table->cellAt(0, 0).firstCursorPosition().charFormat().fontWeight(), QFont::Bold);
    delete view;

    const struct {
        const char* link;
        bool opens;
    } links[] = {{"https://example.org/a", true}, {"http://localhost:8080/", true}, {"mailto:ana@example.org", true},
                 {"javascript:alert(1)", false}, {"file:///etc/passwd", false}, {"ayuda.html", false}, {"https://", false}};
    for (const auto& l : links) EXPECT_EQ(ui::RichText::isOpenableLink(QString::fromLatin1(l.link)), l.opens) << l.link;
}

} // namespace
} // namespace zorvane::testing
